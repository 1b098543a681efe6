#include "testenvironment.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    TestEnvironment environment(argc, argv);
    if (TestEnvironment::listingOnly())
        return RUN_ALL_TESTS();
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
