// GDI+ and COM for every test of a toolkit test program, as the application starts them.
#include "GdiplusSession.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class GdiplusEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        session_ = std::make_unique<GdiplusSession>();
        ASSERT_TRUE(session_->Started());
    }
    void TearDown() override { session_.reset(); }

private:
    std::unique_ptr<GdiplusSession> session_;
};

const auto* const kSession = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

}  // namespace
