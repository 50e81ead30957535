#pragma once

#include "core/eventlog.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QAction;
class QPushButton;
class QScrollBar;

namespace kw {

struct AppData;
class Desktop;
class FrmList;
class FrmP2Pnew;
class FrmPairs;
class FrmPrefix;
class FrmTask;
class P2PDetector;
class ScanEngine;
class WindowSearch;

// The program's one permanent window: the two folders, the scan interval, the sound file, the
// statistics with the copied files and the debug window.
//
// Every control carries its name as objectName, so the colour scheme and tests find it by name.
// Elements of control arrays are named with their index in parentheses: "Text(0)", "Text(1)",
// "ButOpenDir(0)", "ButBrowse(1)"; ButBrowseSound is its array's only element and keeps the
// plain name. The working lists of the scan cycle live in the engine, not here.
//
// The window also is the log's debug window: the list LBdebug.
class FrmMain : public QWidget, public DebugWindow {
    Q_OBJECT

public:
    // 11970 x 4725 twips at 15 twips per pixel.
    static constexpr int kWidth = 798;
    static constexpr int kHeight = 315;

    FrmMain(AppData& data, EventLog& log, Desktop& desktop, ScanEngine& engine,
            QWidget* parent = nullptr);
    ~FrmMain() override;

    // Text(0) and Text(1) show the folders, or the prompt for a folder that is not set.
    void SetText();
    static QString directoryPlaceholder();
    // The interval as the scroll bar's change handler applies it: position, caption, settings
    // file, log line and a scan timer restarted for a full interval.
    void applyInterval(int seconds);
    void setStatisticsCaption(const QString& caption);
    void setSoundFileText(const QString& file);
    // The path joins LBfiles with the next batch: a burst of copies lays the list out once per
    // batch, not once per file.
    void insertCopiedFile(int row, const QString& destinationPath);
    // Puts the waiting paths into LBfiles, and brings the debug window to its last line, now.
    void flushLists();
    void applyColorScheme();
    // LabelMail and LabelPage become links: yellow, blue and underlined under the pointer.
    void makeHyperlinks();

    // Whether minimising hides the window: only when the tray can show it again.
    void setHideWhenMinimized(bool hide) { m_hideWhenMinimized = hide; }

    QTimer& Blink() { return m_blink; }

    // The running P2P programs shown in LabelP2P after each pass, and ButP2P opening frmP2Pnew
    // over the given window search.
    void attachP2P(P2PDetector& detector, WindowSearch& search);
    void showDetectedPrograms(const QStringList& names);

    // DebugWindow
    int lineCount() const override;
    void appendLine(const QString& line) override;
    void removeFirstLine() override;
    void selectLastLine() override;
    void clearLines() override;

    // Handlers, public so that tests drive them as a click would.
    void ButBrowse_Click(int index);
    void ButOpenDir_Click(int index);
    void HScroll_Change();
    void mnuExecute_Click();
    void mnuDelete_Click();
    void mnuRemove_Click();
    void ButAbout_Click();
    void ButPlay_Click();
    void ButBrowseSound_Click();
    void ButColor_Click();
    void RandomBackgroundColor();
    void Blink_Timer();
    void LabelMail_Click();
    void LabelPage_Click();
    void ButP2P_Click();
    // The list windows, created on first use and shown again on later clicks.
    void ButPrefix_Click();
    void ButPairs_Click();
    void ButTasklist_Click();
    void ButList_Click();

Q_SIGNALS:
    // The window's own close command; the program decides what closing means.
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The destination frame's title: whether its medium is missing or its file system hangs.
    void showDestinationState();
    void createControls();
    void createMenu();
    void createP2PControls();
    void Text_Change(int index);
    bool LBfiles_MouseDown(QMouseEvent* event);
    void DragWindow();
    QString selectedCopiedFile() const;
    void removeSelectedCopiedFile();

    AppData& m_data;
    EventLog& m_log;
    Desktop& m_desktop;
    ScanEngine& m_engine;
    bool m_hideWhenMinimized = false;
    QTimer m_blink;
    QStringList m_copiedFilesWaiting;  // in the order they were copied
    bool m_lastDebugLineDue = false;
    QTimer m_listBatch;

    QGroupBox* m_frame1 = nullptr;
    QGroupBox* m_frame2 = nullptr;
    QString m_missingMedium;  // the mount point the destination waits for, if any
    bool m_notAnswering = false;
    QLineEdit* m_text[2] = {};
    QPushButton* m_butOpenDir[2] = {};
    QPushButton* m_butBrowse[2] = {};
    QLabel* m_labelScroll = nullptr;
    QScrollBar* m_hScroll = nullptr;
    QLabel* m_label1 = nullptr;
    QLineEdit* m_textSound = nullptr;
    QGroupBox* m_frame3 = nullptr;
    QGroupBox* m_frame = nullptr;
    QListWidget* m_lbFiles = nullptr;
    QGroupBox* m_frame5 = nullptr;
    QListWidget* m_lbDebug = nullptr;
    QLabel* m_labelMail = nullptr;
    QLabel* m_labelPage = nullptr;
    QMenu* m_mnu = nullptr;

    WindowSearch* m_windowSearch = nullptr;
    QLabel* m_labelP2P = nullptr;
    QPushButton* m_butP2P = nullptr;
    QPointer<FrmP2Pnew> m_frmP2Pnew;
    std::unique_ptr<FrmPrefix> m_frmPrefix;
    std::unique_ptr<FrmPairs> m_frmPairs;
    std::unique_ptr<FrmTask> m_frmTask;
    std::unique_ptr<FrmList> m_frmList;
};

}  // namespace kw
