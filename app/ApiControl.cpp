#include "app/ApiControl.h"

#include "app/Fadelink2.h"
#include "model/Errors.h"
#include "model/Session.h"
#include "ui/Forms.h"

#include <QAction>
#include <QCommandLineParser>
#include <QMenuBar>
#include <QSettings>

namespace {
const QString kOnKey = QStringLiteral("api/on");
const QString kArgumentsKey = QStringLiteral("api/arguments");
const QStringList kValueOptions{QStringLiteral("api"),      QStringLiteral("api-tokens"),
                                QStringLiteral("api-cert"), QStringLiteral("api-key"),
                                QStringLiteral("osc"),      QStringLiteral("osc-allow")};

TApiOptions Parse(const QStringList& arguments) {
    QCommandLineParser parser;
    AddApiOptions(parser);
    if (!parser.parse(QStringList{QStringLiteral("fadelink")} + arguments))
        throw EFadelinkError(parser.errorText());
    return ApiOptionsFrom(parser);
}
} // namespace

QStringList TApiControl::ApiArguments(const QCommandLineParser& parser) {
    QStringList arguments;
    for (const QString& name : kValueOptions)
        for (const QString& value : parser.values(name))
            arguments << QStringLiteral("--") + name << value;
    if (parser.isSet(QStringLiteral("api-insecure")))
        arguments << QStringLiteral("--api-insecure");
    return arguments;
}

TApiControl::TApiControl(TForm1* window, const QStringList& arguments)
    : QObject(window), FWindow(window), FService(window->Session()) {
    FToggle = new QAction(QStringLiteral("Control API"), this);
    FToggle->setObjectName(QStringLiteral("ControlApiToggle"));
    FToggle->setCheckable(true);
    window->menuBar()->addAction(FToggle);
    connect(FToggle, &QAction::triggered, this, [this](bool on) { SetOn(on); });

    QSettings settings(QStringLiteral("fadelink"), QStringLiteral("fadelink"));
    if (!arguments.isEmpty()) {
        settings.setValue(kArgumentsKey, arguments);
        FArguments = arguments;
        SetOn(true);
    } else {
        FArguments = settings.value(kArgumentsKey).toStringList();
        if (settings.value(kOnKey, false).toBool())
            SetOn(true);
    }
    ShowState();
}

bool TApiControl::SetOn(bool on) {
    QString failure;
    if (!on) {
        FService.Stop();
    } else {
        const QStringList arguments =
            FArguments.isEmpty() ? QStringList{QStringLiteral("--api"), QString::fromLatin1(DefaultEndpoint)}
                                 : FArguments;
        try {
            FService.Start(Parse(arguments));
        } catch (const EFadelinkError& e) {
            failure = e.Message;
        }
    }
    QSettings settings(QStringLiteral("fadelink"), QStringLiteral("fadelink"));
    settings.setValue(kOnKey, FService.Running());
    ShowState();
    if (!failure.isEmpty())
        ShowErrorMessage(FWindow, QStringLiteral("The control API is off: ") + failure);
    return failure.isEmpty();
}

void TApiControl::ShowState() {
    FToggle->setChecked(FService.Running());
    FToggle->setToolTip(FService.Description());
    FToggle->setStatusTip(FService.Description());
}
