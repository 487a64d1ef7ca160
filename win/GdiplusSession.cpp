#include "GdiplusSession.h"

#include <objbase.h>
#include <gdiplus.h>

GdiplusSession::GdiplusSession()
{
    CoInitialize(nullptr);
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback
    started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
}

GdiplusSession::~GdiplusSession()
{
    if (started_) {
        Gdiplus::GdiplusShutdown(token_);
    }
    CoUninitialize();
}
