#pragma once

#include <QString>

class QLabel;

namespace kw {

class Desktop;

// The label turns underlined, changes to overColor (0x00BBGGRR) and shows a pointing hand
// while the pointer is over it, and returns to color when the pointer leaves. Driven by the
// label's enter and leave events, so an idle program does not poll the pointer.
void MakeHyperlink(QLabel* label, qint32 color, qint32 overColor);

// "mailto:" + address + "?subject=...&body=...", each part percent-encoded.
QString MailtoAddress(const QString& address, const QString& subject, const QString& body);
// A new message in the user's mail program; answers the address that was opened.
QString SendMail(Desktop& desktop, const QString& address, const QString& subject,
                 const QString& body);
// The page in the default web browser.
void OpenInBrowser(Desktop& desktop, const QString& address);

// The addresses this build shows.
QString contactMailAddress();
QString homepageAddress();

}  // namespace kw
