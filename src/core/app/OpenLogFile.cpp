#include "core/app/OpenLogFile.h"

namespace corvane {

void OpenLogFile(IShellOpener& shell, INotifier& notifier, const std::string& logPath) {
    const int result = shell.Open(logPath);
    if (result > 32) return;
    const std::string message =
        "以下のパスオープンに失敗しました(" + std::to_string(result) + ")\r\n\r\n" + logPath;
    notifier.ShowBalloonHelp("LogFile Error Message", message, 1000, TBalloonIconType::bitError);
}

}  // namespace corvane
