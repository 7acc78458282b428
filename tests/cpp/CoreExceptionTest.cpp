#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "qz/ExtException.h"

namespace {

TEST(CoreException, WhatReturnsMessageWithoutFileOrLine) {
    const qz::ExtException error("Vertex data is invalid.", "UniModelDesc/sources/Vertices.cpp", 285);
    EXPECT_STREQ(error.what(), "Vertex data is invalid.");
    EXPECT_EQ(error.file(), "UniModelDesc/sources/Vertices.cpp");
    EXPECT_EQ(error.line(), 285);
}

TEST(CoreException, CopyKeepsAllThreeMembersAfterOriginalDies) {
    auto* original = new qz::ExtException(std::string(300, 'm'), "some/file.cpp", 7);
    const qz::ExtException copy(*original);
    delete original;
    EXPECT_EQ(std::string(copy.what()), std::string(300, 'm'));
    EXPECT_EQ(copy.file(), "some/file.cpp");
    EXPECT_EQ(copy.line(), 7);
}

TEST(CoreException, ThrowMacroRecordsRaisingSiteFileAndLine) {
    int expectedLine = 0;
    try {
        expectedLine = __LINE__ + 1;
        QZ_THROW(std::string("Unsupported version ") + "3");
    } catch (const qz::ExtException& error) {
        EXPECT_STREQ(error.what(), "Unsupported version 3");
        EXPECT_EQ(error.line(), expectedLine);
        // Recorded relative to the project root, never as an absolute path.
        EXPECT_EQ(error.file(), "tests/cpp/CoreExceptionTest.cpp");
        return;
    }
    FAIL() << "QZ_THROW did not throw";
}

}  // namespace
