#pragma once
// The main window: the two lists of sessions and open resources, the menus
// and commands, the settings and the event log, and the watch thread.
// CorvaneForm.cpp has its life (creation, messages);
// CorvaneFormStatus.cpp the watch's outputs (the log, the status bar);
// CorvaneFormClose.cpp its end (teardown, the session's end, what the close
// rules carry out); CorvaneFormBuild.cpp builds its controls, images, menus
// and tray icon; CorvaneFormCommands.cpp holds the commands;
// CorvaneFormFilter.cpp the filter box over the lists and the row count;
// CorvaneFormExport.cpp copying and saving the shown rows;
// CorvaneFormPlacement.cpp is the window as the settings see it;
// CorvaneFormFeed.cpp makes it the face of the service when the service
// watches. The tray announcements are a TrayAnnouncer of its own.
#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/app/MainWindowRules.h"
#include "core/events/EventReport.h"
#include "core/app/OpenLogFile.h"
#include "core/events/EventLog.h"
#include "core/feed/FeedAccess.h"
#include "core/feed/FeedMirror.h"
#include "core/settings/Settings.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/SettingsWindow.h"
#include "core/views/ListRows.h"
#include "core/watch/PassWait.h"
#include "core/watch/WatchHealth.h"
#include "core/watch/WatchThread.h"
#include "win/app/ListViewReportList.h"
#include "win/app/TrayAnnouncer.h"
#include "win/events/EventLogReporter.h"
#include "win/feed/FeedClient.h"
#include "win/tray/TrayIcon.h"
#include "win/ui/ActionList.h"
#include "win/ui/Dpi.h"
#include "win/ui/MainThreadRunner.h"
#include "win/ui/UniqueResource.h"
#include "win/ui/Window.h"
#include "win/watch/NetApi.h"
#include "win/watch/WinsockResolver.h"

namespace corvane::win {

// Command identifiers of the actions.
enum ActionId : UINT {
    kActionAbout = 100,
    kActionExit,
    kActionSessionDisconnect,
    kActionSetEnvironment,
    kActionOpenLogFile,
    kActionSendMessage,
    kActionRefresh,
    kActionFileClose,
    kActionGuide,
    kActionSaveList,
    kActionCopy,
    kActionSelectAll,
    kActionFilter,
};

class TCorvaneForm final : public Window,
                           public IWatchOwner,
                           public ISettingsWindow,
                           public IEventSink,
                           public IWatchHealthView,
                           private app::ICloseHost {
public:
    // `monitorDpi`: the scale of the monitor that shows a rectangle of the
    // screen (MonitorDpi; tests give monitors of other scales).
    explicit TCorvaneForm(int (*monitorDpi)(const RECT& area) = MonitorDpi);
    ~TCorvaneForm() override;

    // The service watches this computer: the window shows its feed, read
    // from `pipeName` served by the process `serviceProcessId` names, and
    // keeps no log and ends no session of its own. Before Create.
    void UseService(std::function<DWORD()> serviceProcessId, std::wstring pipeName);
    bool ServiceFace() const noexcept { return face_; }

    // Creates the window and runs the creation sequence. False when the
    // program is to end at once (unsupported platform).
    bool Create();
    void Show(int showCommand);

    // Message loop support: a message with the window's shortcuts applied,
    // and the work done whenever the queue has run empty.
    void Dispatch(MSG& msg);
    void Idle();

    // IWatchOwner
    bool IgnoreAutoRefresh() const override { return settings_.IgnoreAutoRefresh; }
    bool IgnoreSharedResource() const override { return settings_.IgnoreSharedResource; }
    bool RefreshRequested() const override { return refreshRequested_; }
    void ClearRefreshRequested() override { refreshRequested_ = false; }
    const Settings& CurrentSettings() const override { return face_ ? faceWatchSettings_ : settings_; }
    void EnumerationResult(std::uint32_t sessionStatus, std::uint32_t fileStatus) override;

    // IWatchHealthView: a failing enumeration in the status bar, and once in a balloon.
    void ShowWatchFault(const std::string& line, const char* balloonTitle) override;
    void ClearWatchFault() override;

    // ISettingsWindow
    WindowPlacementRecord GetPlacement() override;
    void SetPlacement(const WindowPlacementRecord& placement) override;
    bool IsProgramMinimized() override;
    int ColumnDpi() override;
    int ColumnCount(ListKind list) override;
    int GetColumnWidth(ListKind list, int column) override;
    void SetColumnWidth(ListKind list, int column, int width) override;
    int GetTabIndex() override;
    void SetTabIndex(int index) override;

    // IEventSink: each pass's events go to the event log and then to the
    // system's event log on the watch thread; what the log holds back, and
    // why, and reports that fail are shown on the main thread.
    void Publish(const std::vector<WatchEvent>& events) noexcept override;

    // State the tests look at.
    const std::string& SettingsFilePath() const noexcept { return settingsPath_; }
    const std::string& LogFilePath() const noexcept { return logPath_; }
    bool ServerApiBound() const noexcept { return netApi_ != nullptr; }
    bool WatchThreadRunning() const noexcept { return watchThread_ != nullptr; }
    HWND SessionList() const noexcept { return lvSessions_; }
    HWND ResourceList() const noexcept { return lvResource_; }
    HWND TabControl() const noexcept { return tabControl_; }
    HWND StatusBar() const noexcept { return statusBar_; }
    HWND FilterBox() const noexcept { return filterBox_; }
    Settings& SettingsRecord() noexcept { return settings_; }
    TTrayIcon* TrayIcon() noexcept { return tray_ ? tray_->Icon() : nullptr; }
    IMainThreadRunner& Runner() noexcept { return *runner_; }
    INotifier& Notifier() noexcept { return *tray_; }
    // A close asked for while a menu, a box or a scan was running, still to do.
    bool ClosePending() const noexcept { return closeRules_.ClosePending(); }
    HMENU TrayMenu() const noexcept { return trayMenu_.get(); }
    bool DialogOpen() const noexcept { return dialogs_.DialogOpen(); }
    bool ExitRequested() const noexcept { return closeRules_.ExitRequested(); }
    // What the commands ask the shell to open goes to `shell` from now on.
    void UseShell(std::unique_ptr<IShellOpener> shell) noexcept { shell_ = std::move(shell); }
    // Runs the update handlers, as when the loop goes idle; then whether the
    // command is enabled.
    bool ActionEnabled(UINT id);

    // Commands.
    void ActionExitExecute();
    void ActionAboutExecute();
    void ActionSessionDisconnectExecute();
    void ActionFileCloseExecute();
    void ActionSendMessageExecute();
    void ActionSetEnvironmentExecute();
    void ActionRefreshExecute();
    void ActionOpenLogFileExecute();
    void ActionGuideExecute();
    void ActionSaveListExecute();
    void ActionCopyExecute();
    void ActionSelectAllExecute();
    void ActionFilterExecute();
    void TabControlChange();
    void lvSessionsColumnClick(int column);
    void lvResourceColumnClick(int column);

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    bool FormCreate();  // false: unsupported platform
    void FormDestroy();
    // WM_ENDSESSION: the session ends, and Windows may end the process as
    // soon as the message returns.
    void EndSession();
    // Stops the watch; waits for it unless that would wait on ourselves.
    void StopWatch(bool wait);
    // The log's end: what waits goes to the log or a file beside it, and a
    // loss is told in a box, or in the event log while the session ends.
    void FinishLog();
    void AppIdle();
    void CarryOutPendingClose();
    void CreateControls();
    void CreateImageLists();
    void CreateScaledImageLists();  // commands and list pictures at the window's scale
    // WM_DPICHANGED: fonts, pictures and columns at the new scale, the window
    // at the size the system proposes.
    void DpiChanged(int dpi, const RECT& suggested);
    // Fonts, pictures and columns at `dpi`; the window keeps its place.
    void Rescale(int dpi);
    void CreateActions();
    void CreateMenus();
    void CreateTrayIcon();
    void SetStatusText(const std::wstring& line);
    void LayoutControls();
    void UpdateActions();
    void ActionDisplayDialogUpdate(Action& action);
    void ActionSessionDisconnectUpdate(Action& action);
    void ActionSendMessageUpdate(Action& action);
    void ActionFileCloseUpdate(Action& action);
    void ActionCopyUpdate(Action& action);
    void ActionSelectAllUpdate(Action& action);
    HWND ListOf(ListKind list) const { return list == ListKind::Sessions ? lvSessions_ : lvResource_; }
    // The list of the tab shown, and the view that shows its rows.
    HWND CurrentList() const;
    ListViewReportList* CurrentRows() const;
    // Keys the window handles itself before the shortcuts: true when `msg`
    // was one of them and has been handled.
    bool FilterBoxKey(const MSG& msg);
    bool EditingKey(const MSG& msg) const;
    // The filter box's text became the current list's filter.
    void FilterChanged();
    // The filter box shows the current tab's filter.
    void ShowTabFilter();
    // "表示 N 件 / 全 M 件" of the current list in the status bar.
    void ShowRowCount();
    // The selected rows of a list, read through what it shows, top to bottom.
    std::vector<views::RowTable::Cells> SelectedRows(HWND list);
    int Scale(int pixels) const;
    LRESULT OnNotify(const NMHDR& header);
    void RequestListSync();
    std::vector<std::string> SelectedSessionCells(int column);
    // Where the commands go: the server itself, or the service.
    IServerApi* Server() const noexcept;

    // The face of the service (CorvaneFormFeed.cpp). The feed's thread posts
    // kFeedMessage when it left something for the window.
    static constexpr UINT kFeedMessage = WM_APP + 21;
    bool StartFace();
    bool FaceMayAct() const noexcept { return !face_ || access_ == feed::Access::Act; }
    void FeedArrived();  // main thread: what the feed's thread left for it
    void ShowFaceState();
    void FaceSettingsChanged();
    void FaceFileClose(const std::vector<app::OpenFileRow>& files);
    void FaceCommandDone(const feed::CommandResult& result);
    // After the settings dialog: the watch's part goes to the service.
    void SendWatchSettings();

    // app::ICloseHost: what the close rules have carried out.
    void SaveSettings() override;
    void MinimizeProgram() override;
    bool ConfirmExit() override;
    void ShowSaveError(const std::string& message) override;

    // Paths, fixed at creation.
    std::string programDirectory_;
    std::string settingsPath_;
    std::string logPath_;

    // Main window state.
    Settings settings_;
    SharedFlag refreshRequested_;
    app::DialogState dialogs_;    // DialogOpen
    app::CloseRules closeRules_;  // ExitRequested, SessionEnding
    bool appIdleInstalled_ = false;
    std::optional<unsigned> restoredShow_;  // show command of a restored placement
    std::recursive_mutex listLock_;
    bool listSyncPosted_ = false;

    // Controls and images.
    HWND tabControl_ = nullptr;
    HWND lvSessions_ = nullptr;
    HWND lvResource_ = nullptr;
    HWND statusBar_ = nullptr;
    HWND filterLabel_ = nullptr;
    HWND filterBox_ = nullptr;
    std::wstring shownRowCount_;  // the status bar's count, as last shown
    UniqueFont font_;
    UniqueImageList imageList_;
    UniqueImageList imageListSessions_;
    UniqueImageList imageListIcon_;
    HMENU mainMenu_ = nullptr;  // owned by the window once attached
    UniqueMenu trayMenu_;
    UniqueMenu sessionMenu_;
    UniqueMenu resourceMenu_;  // the resource list's context menu
    std::unique_ptr<TrayAnnouncer> tray_;  // goes before the menu it shows
    std::vector<UniqueBitmap> menuBitmaps_;
    ActionList actions_;
    UniqueAccel accel_;
    int dpi_ = 96;
    int (*monitorDpi_)(const RECT&);
    bool placing_ = false;  // the stored placement is being put back

    // Adapters and the watcher.
    WinsockResolver resolver_;
    std::unique_ptr<MainThreadRunner> runner_;
    PassWait passWait_;
    std::unique_ptr<NetApi> netApi_;
    std::unique_ptr<views::ListRows> rows_;  // before the views that show its tables (and filter them)
    std::unique_ptr<ListViewReportList> sessionRows_;
    std::unique_ptr<ListViewReportList> resourceRows_;
    std::unique_ptr<IProfileStore> profile_;
    std::unique_ptr<SettingsStore> settingsStore_;
    std::unique_ptr<ILogFileSystem> logFiles_;
    std::unique_ptr<IClock> clock_;
    std::unique_ptr<IShellOpener> shell_;
    std::unique_ptr<EventLog> eventLog_;
    EventLogState shownLogState_;  // watch thread only
    std::unique_ptr<EventLogReporter> eventReporter_;
    std::unique_ptr<EventReportSink> eventReports_;
    EventReportState shownReportState_;  // watch thread only
    std::unique_ptr<WatchHealth> watchHealth_;

    // The face of the service. The feed's thread leaves what the window must
    // see under feedLock_ and posts a note; the rest is the main thread's.
    bool face_ = false;
    std::function<DWORD()> serviceProcessId_;
    std::wstring pipeName_;
    std::unique_ptr<feed::FeedMirror> mirror_;
    std::unique_ptr<FeedClient> feed_;
    std::mutex feedLock_;
    std::deque<feed::Message> feedNotes_;
    std::optional<std::pair<bool, std::string>> feedState_;  // connected, why
    bool feedNotePosted_ = false;
    bool feedConnected_ = false;
    std::string feedWhy_;
    feed::Access access_ = feed::Access::None;
    std::string accessReason_;
    feed::ShowToUsers show_ = feed::ShowToUsers::AdministratorsOnly;
    feed::WatchSettings serviceSettings_;
    Settings faceWatchSettings_;  // what the tray's own watch follows: never ends or filters a session
    std::uint32_t nextCommand_ = 1;
    std::map<std::uint32_t, app::OpenFileRow> pendingCloses_;

    std::unique_ptr<TWatchThread> watchThread_;
};

// The user guide as HTML, beside the program.
inline constexpr const char* kGuideFileName = "README.ja.html";

// Version check of the creation sequence: false on an unsupported platform;
// `nt` tells whether the server functions can be bound.
bool CheckPlatform(bool& nt);

}  // namespace corvane::win
