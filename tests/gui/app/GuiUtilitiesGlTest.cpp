// The icon texture cache against a real OpenGL context: one texture per icon, and every
// texture gone after the one explicit delete step.
#include <gtest/gtest.h>

#include "app/GuiUtilities.h"
#include "support/GlTestContext.h"

namespace {

TEST(ResourcesGlTest, OneTexturePerIconUntilDeleted) {
    ORBEL_GL_CONTEXT_OR_SKIP(context);
    orbel::studio::gui::Resources resources;
    const unsigned camera = resources.ButtonIcon(0);
    ASSERT_NE(camera, 0u);
    EXPECT_EQ(resources.ButtonIcon(0), camera);
    const unsigned failure = resources.ToastIcon(3);
    ASSERT_NE(failure, 0u);
    EXPECT_NE(failure, camera);
    EXPECT_EQ(resources.ButtonIcon(99), 0u);
    EXPECT_TRUE(glIsTexture(camera));

    resources.DeleteTextures();
    EXPECT_FALSE(glIsTexture(camera));
    EXPECT_FALSE(glIsTexture(failure));
    EXPECT_EQ(resources.TextureCount(), 0u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
