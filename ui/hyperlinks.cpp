#include "ui/hyperlinks.h"

#include "core/desktop.h"
#include "ui/colors.h"

#include <QEvent>
#include <QLabel>
#include <QUrl>

namespace kw {
namespace {

class HyperlinkHover : public QObject {
public:
    HyperlinkHover(QLabel* label, qint32 color, qint32 overColor)
        : QObject(label), m_label(label), m_color(color), m_overColor(overColor) {
        paint(false);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Enter)
            paint(true);
        else if (event->type() == QEvent::Leave)
            paint(false);
        return false;
    }

private:
    void paint(bool over) {
        QPalette palette = m_label->palette();
        palette.setColor(QPalette::WindowText, toQColor(over ? m_overColor : m_color));
        m_label->setPalette(palette);
        QFont font = m_label->font();
        font.setUnderline(over);
        m_label->setFont(font);
        if (over)
            m_label->setCursor(Qt::PointingHandCursor);
        else
            m_label->unsetCursor();
    }

    QLabel* m_label;
    qint32 m_color;
    qint32 m_overColor;
};

}  // namespace

void MakeHyperlink(QLabel* label, qint32 color, qint32 overColor) {
    label->setTextFormat(Qt::PlainText);
    label->installEventFilter(new HyperlinkHover(label, color, overColor));
}

QString MailtoAddress(const QString& address, const QString& subject, const QString& body) {
    // "@" stays readable in the address; everything else that could end a part is encoded.
    return QLatin1String("mailto:") + QString::fromLatin1(QUrl::toPercentEncoding(address, "@")) +
           QLatin1String("?subject=") + QString::fromLatin1(QUrl::toPercentEncoding(subject)) +
           QLatin1String("&body=") + QString::fromLatin1(QUrl::toPercentEncoding(body));
}

QString SendMail(Desktop& desktop, const QString& address, const QString& subject,
                 const QString& body) {
    const QString mailto = MailtoAddress(address, subject, body);
    desktop.ShellOpen(mailto, {});
    return mailto;
}

void OpenInBrowser(Desktop& desktop, const QString& address) {
    desktop.ShellOpen(address, {});
}

QString contactMailAddress() {
    return QStringLiteral(KOPIERWART_CONTACT_MAIL);
}
QString homepageAddress() {
    return QStringLiteral(KOPIERWART_HOMEPAGE);
}

}  // namespace kw
