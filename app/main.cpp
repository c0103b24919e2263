#include <windows.h>

#include "app/MakerInfo.h"
#include "runtime/Dialogs.h"
#include "runtime/Process.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    InitRuntime();
    ShowMessage(Text("本软件使用完全免费，请勿使用于商业用途！\r\n如果本软件是购买来的，说明你已经被骗了！\r\n软件官网：") +
                    VELMORA_SITE_URL + "\r\n更多软件尽在论坛：" + VELMORA_FORUM_URL,
                kBoxInformation, Text("温馨提醒："));
    EndProgram(0);
}
