// GDI+ and COM for every test of a toolkit test program, as the application starts them.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <gdiplus.h>

namespace {

class GdiplusSession : public ::testing::Environment {
public:
    void SetUp() override
    {
        CoInitialize(nullptr);
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override
    {
        Gdiplus::GdiplusShutdown(token_);
        CoUninitialize();
    }

private:
    ULONG_PTR token_ = 0;
};

const auto* const kSession = ::testing::AddGlobalTestEnvironment(new GdiplusSession);

}  // namespace
