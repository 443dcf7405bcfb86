#include "platform/input_list_api.h"

#include "platform/system_library.h"

bool LoadInputListApi(InputListApi* api)
{
    if (!api) return false;
    *api = InputListApi{};
    HMODULE module = LoadSystemLibrary(L"input.dll");
    if (!module) return false;
    api->install = reinterpret_cast<InstallLayoutOrTipFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "InstallLayoutOrTip")));
    api->installUserReg = reinterpret_cast<InstallLayoutOrTipUserRegFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "InstallLayoutOrTipUserReg")));
    if (api->install && api->installUserReg) return true;
    *api = InputListApi{};
    return false;
}
