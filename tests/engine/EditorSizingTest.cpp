#include "engine/EditorSizing.h"

#include <gtest/gtest.h>

using namespace brindlecot;

TEST(EditorSizing, ConstrainsToTheLimitsAndKeepsTheAspectRatio)
{
    int w = 800, h = 800;
    EXPECT_FALSE(constrainEditorSize(w, h, 1.0));
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 703);
    EXPECT_NEAR(editorDrawScale(w, h, 1.0), 1.4760, 1e-4);

    w = 300, h = 200;
    EXPECT_FALSE(constrainEditorSize(w, h, 1.0));
    EXPECT_EQ(w, 406);
    EXPECT_EQ(h, 357);

    w = 5000, h = 5000;
    constrainEditorSize(w, h, 2.0);
    EXPECT_EQ(w, 2168);
    EXPECT_EQ(h, 1904);

    w = 542, h = 476;
    EXPECT_TRUE(constrainEditorSize(w, h, 1.0));
    EXPECT_EQ(editorDrawScale(0, 0, 1.0), 1.0);
}
