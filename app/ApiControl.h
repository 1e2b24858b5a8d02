#pragma once

#include "api/ApiOptions.h"
#include "api/ApiService.h"

#include <QObject>
#include <QStringList>

class QAction;
class QCommandLineParser;
class TForm1;
class TJournal;

// The control API in the program: a "Control API" toggle in the main window's menu bar, started
// at launch by the API options of the command line or, without them, as the user left it. The
// options and whether it is on are remembered in the user's settings. A server that cannot start
// is reported in a message box and left off; the program goes on either way.
class TApiControl : public QObject {
    Q_OBJECT
public:
    static constexpr char DefaultEndpoint[] = "127.0.0.1:8411";

    // `arguments`: the program's API options as given (empty when none was).
    TApiControl(TForm1* window, const QStringList& arguments);

    // Starts or stops the API and remembers it; false when it was asked to start and could not.
    bool SetOn(bool on);
    bool On() const { return FService.Running(); }
    QAction* Toggle() const { return FToggle; }
    const TApiService& Service() const { return FService; }
    // The journal the API serves (nullptr: none); see TApiService::SetJournal.
    void SetJournal(TJournal* journal) { FService.SetJournal(journal); }

    // The API options among `arguments` (a program's command line without its name), as a list
    // that AddApiOptions parses again.
    static QStringList ApiArguments(const QCommandLineParser& parser);

private:
    void ShowState();

    TForm1* FWindow;
    TApiService FService;
    QAction* FToggle;
    QStringList FArguments;
};
