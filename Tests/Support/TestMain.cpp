// Test programs' entry: a broken kernel rule fails the test that broke it, with the rule's name.
#include <gtest/gtest.h>

#include "Verifier.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    host::Verifier::SetHandler([](const host::Violation& violation) {
        ADD_FAILURE() << "kernel rule broken: " << violation.rule << ": " << violation.detail;
    });
    return RUN_ALL_TESTS();
}
