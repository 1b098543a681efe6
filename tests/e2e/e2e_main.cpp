#include "testenvironment.h"

#include "desktoptestmain.h"

int main(int argc, char** argv)
{
    TestEnvironment environment(argc, argv);
    if (TestEnvironment::listingOnly())
        return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fputs("e2e tests need an X display (run them through ctest, which starts Xvfb)\n",
                   stderr);
        return 1;
    }
    return RunTestsOnDesktop(argc, argv, "xcb");
}
