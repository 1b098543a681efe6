#include "testenvironment.h"

#include "desktoptestmain.h"

int main(int argc, char** argv)
{
    TestEnvironment environment(argc, argv);
    if (TestEnvironment::listingOnly())
        return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs("wayland tests need a compositor (run them through ctest, which starts "
                   "Weston)\n",
                   stderr);
        return 1;
    }
    return RunTestsOnDesktop(argc, argv, "wayland");
}
