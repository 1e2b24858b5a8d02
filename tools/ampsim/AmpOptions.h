#pragma once

#include "tools/ampsim/AmpSim.h"

#include <QList>
#include <QString>
#include <QStringList>

// The command line of the ampsim program:
//   ampsim [--model M] [--group CODE] [--name NAME] [--fault A|B]... [--time-scale N] [--log]
//          ADDRESS...
struct TAmpSimOptions {
    enum class EAction { Run, Help, Version, UsageError };

    EAction Action = EAction::Run;
    QString Error; // with UsageError: what was wrong
    QList<TAmpConfig> Amps;
    bool Log = false;
};

// `arguments` as from QCoreApplication::arguments(), the program name first.
TAmpSimOptions ParseAmpSimArguments(const QStringList& arguments);

QString AmpSimHelpText();

// The short name of amplifier `number` (1-based) of `count` started with --name `name`: the
// name alone for one amplifier, else the name cut so that name and number fit five characters.
QByteArray NumberedShortName(const QString& name, int number, int count);
