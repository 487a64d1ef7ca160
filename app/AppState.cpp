#include "AppState.h"

HINSTANCE AppInstance = nullptr;
int32_t StatusCode = 0;
