# Copies Ruffle's run-time files (scripts and WebAssembly, no source maps) to the share folder.
file(GLOB files "${SOURCE}/*.js" "${SOURCE}/*.wasm" "${SOURCE}/LICENSE_*")
file(MAKE_DIRECTORY "${DESTINATION}")
file(COPY ${files} DESTINATION "${DESTINATION}")
