#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

namespace kw {

// A second start hands over to the running program: the running one listens on a local socket
// named after its data folder (the folder its instance lock lies in, so two installations never
// meet), and a second start asks it there to show its main window.

// The socket's name for the data folder; it lives in the abstract namespace, so it leaves no file
// behind and needs none in the data folder.
QString secondStartChannel(const QString& dataFolder);

// The running program's end: calls show for every request that arrives.
class SecondStartListener : public QObject {
    Q_OBJECT

public:
    explicit SecondStartListener(std::function<void()> show, QObject* parent = nullptr);

    // Empty text when listening on channel; otherwise why not.
    QString listen(const QString& channel);

private:
    void accept();

    std::function<void()> m_show;
    QLocalServer* m_server;
};

// The second start's end: asks the program listening on channel to show its main window and
// answers whether it said it did. A program still starting is given until timeoutMs to listen
// and answer; the second start writes nothing anywhere.
bool askRunningProgramToShow(const QString& channel, int timeoutMs = 5000);

}  // namespace kw
