#include "ui/autostartbox.h"

#include "core/autostart.h"
#include "core/desktop.h"
#include "core/eventlog.h"
#include "platform/fs.h"
#include "platform/qtboundary.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QSignalBlocker>

namespace kw {

QCheckBox* makeAutostartBox(QWidget* parent, const QRect& geometry, EventLog& log,
                            Desktop& desktop) {
    auto* box = new QCheckBox(QCoreApplication::translate("kw::Autostart", "Autostart"), parent);
    box->setObjectName(QStringLiteral("ChkAutostart"));
    box->setGeometry(geometry);
    box->setToolTip(
        QCoreApplication::translate("kw::Autostart", "Kopierwart bei jeder Anmeldung starten"));
    box->setCursor(Qt::PointingHandCursor);
    box->setFocusPolicy(Qt::TabFocus);
    QPalette palette = box->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    box->setPalette(palette);

    const auto autostart = [] {
        return Autostart(autostartFolder(environmentPath("XDG_CONFIG_HOME"), homeFolder()),
                         programFilePath());
    };
    box->setChecked(autostart().enabled());
    QObject::connect(box, &QCheckBox::toggled, box, [box, &log, &desktop, autostart](bool on) {
        Autostart entry = autostart();
        const int error = on ? entry.enable() : entry.disable();
        if (error == 0) {
            log.WriteLog((on ? QLatin1String("Autostart on: ") : QLatin1String("Autostart off: ")) +
                         entry.entryPath());
            return;
        }
        log.WriteLog(QLatin1String("Could not ") +
                     (on ? QLatin1String("write ") : QLatin1String("remove ")) + entry.entryPath() +
                     QLatin1String(": ") + fs::errorText(error));
        {
            // The box shows what the session will really do.
            const QSignalBlocker blocker(box);
            box->setChecked(entry.enabled());
        }
        desktop.ShowMessage(
            QCoreApplication::translate("kw::Autostart", "Fehler"),
            (on ? QCoreApplication::translate(
                      "kw::Autostart", "Der Autostart-Eintrag '%1' kann nicht angelegt werden.")
                : QCoreApplication::translate(
                      "kw::Autostart", "Der Autostart-Eintrag '%1' kann nicht entfernt werden."))
                .arg(entry.entryPath()),
            MB_ICONERROR);
    });
    return box;
}

}  // namespace kw
