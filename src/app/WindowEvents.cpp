// SPDX-License-Identifier: GPL-3.0-or-later
// TForm1's construction, life cycle and event handlers: each runs the handler of the feature it
// belongs to. The window's design is in window/; the faces the features see of it are made here.
#include "window/PelicordeFP.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

#include "accounts/AccountHandlers.h"
#include "app/WindowFaces.h"
#include "attachments/AttachmentSaving.h"
#include "blacklist/BlacklistHandlers.h"
#include "core/Autostart.h"
#include "core/Error.h"
#include "core/Folders.h"
#include "core/Options.h"
#include "core/Prompter.h"
#include "deletion/Deletion.h"
#include "marking/MarkingHandlers.h"
#include "mailbox/MessageList.h"
#include "preview/PreviewHandlers.h"
#include "scan/HeaderScan.h"
#include "scan/ScanController.h"
#include "tray/NewMailWatch.h"
#include "tray/Tray.h"
#include "window/BoxPrompter.h"
#include "window/Controls.h"
#include "window/PelicordeFS1.h"
#include "window/PreviewPane.h"
#include "window/Scaling.h"

TForm1::TForm1(QSize workArea, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint),
      m_workArea(workArea)
{
    if (!Form1)
        Form1 = this;
    // With a window on screen the prompter's boxes can be shown.
    setDefaultPrompter(&messageBoxes());
    setObjectName(QStringLiteral("Form1"));
    buildDesign();
    // What the features see of the window.
    pane = new PreviewPane(*this);
    scans = new ScanController(scanDisplayOf(*this), this);
    tray = trayWindowOf(*this);
    connectHandlers();
    FormCreate();
}

TForm1::~TForm1()
{
    FormDestroy();
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::connectHandlers()
{
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(ComboBox1, &ComboBox::dropDown, this, &TForm1::ComboBox1DropDown);
    connect(ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Change);
    connect(Edit4, &QLineEdit::textChanged, this, &TForm1::Edit4Change);
    connect(BitBtn7, &QPushButton::clicked, this, &TForm1::BitBtn7Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
    connect(SG1, &MessageGrid::cellPainted, this, &TForm1::SG1DrawCell);
    connect(SG1, &MessageGrid::mouseReleased, this, &TForm1::SG1MouseUp);
    connect(SG1, &MessageGrid::keyDown, this, &TForm1::SG1KeyDown);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
    connect(BitBtn8, &QPushButton::clicked, this, &TForm1::BitBtn8Click);
    connect(ListBox1, &ListBox::mouseReleased, this, &TForm1::ListBox1MouseUp);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm1::BitBtn4Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TForm1::BitBtn5Click);
    connect(BitBtn6, &QPushButton::clicked, this, &TForm1::BitBtn6Click);
    connect(Restaurer1, &QAction::triggered, this, &TForm1::Restaurer1Click);
    connect(VerifierMails1, &QAction::triggered, this, &TForm1::VerifierMails1Click);
    connect(Quitter1, &QAction::triggered, this, &TForm1::Quitter1Click);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    // The keys users of mail programs expect: F5 checks the mail, Ctrl+Q quits, F1 tells what
    // this program is and where it keeps its files.
    connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this, &TForm1::BitBtn2Click);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this), &QShortcut::activated, this, &TForm1::Quitter1Click);
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this, &TForm1::AProposClick);
    connect(CheckBox3, &QCheckBox::clicked, this, &TForm1::CheckBox3Click);
    connect(CheckBox4, &QCheckBox::clicked, this, &TForm1::CheckBox4Click);
    connect(BitBtn9, &QPushButton::clicked, this, &TForm1::BitBtn9Click);
    connect(AddToBlacklist1, &QAction::triggered, this, &TForm1::AddToBlacklist1Click);
    connect(AddToFriends1, &QAction::triggered, this, &TForm1::AddToFriends1Click);
    connect(NotSpam1, &QAction::triggered, this, &TForm1::NotSpam1Click);
    // After the handlers: Edit4's own handler has applied the TLS rule when this tells.
    for (QLineEdit *field : {Edit3, Edit4, Edit15, Edit16})
        connect(field, &QLineEdit::textChanged, this, &TForm1::accountEdited);
    connect(CheckBox2, &QCheckBox::toggled, this, &TForm1::accountEdited);
    // What the features ask of the window: the last steps of a scan, and a held or deferred scan.
    connect(this, &TForm1::scanEnded, this,
            [this](int previousCount) { guarded([&] { ::scanEnded(*this, previousCount); }); });
    connect(scans, &ScanController::scanDue, this, [this] { guarded([this] { requestScan(*this); }); });
}

// ---- life cycle ----

void TForm1::FormCreate()
{
    guarded([this] {
        tempFolder = folders::tempFolderFromEnvironment();
        dataFolder = folders::dataFolderFromEnvironment();
        if (!folders::ensureDataFolder(dataFolder))
            throw Error(QStringLiteral("Impossible de créer le répertoire Roaming"));
        SG1->setColumnHidden(MessageList::AttachmentNames, true);
        QSize area = m_workArea;
        if (!area.isValid()) {
            if (const QScreen *screen = QGuiApplication::primaryScreen())
                area = screen->availableGeometry().size();
        }
        if (area.isValid() && scaling::factorsFor(area.width(), area.height()).pass != scaling::Factors::None) {
            scaling::scaleWindow(designOrder(), area.width(), area.height());
            scaling::keepCaptionsWhole(designOrder());
        }
        CheckBox3->setChecked(autostart::enabled());
        CheckBox4->setChecked(options::suggestions(dataFolder));
        scans->setSuggestions(CheckBox4->isChecked());
        firstShow = true;
    });
}

void TForm1::FormShow()
{
    guarded([this] {
        if (Form2)
            Form2->hide();
        static const char *const captions[] = {"Reçu de", "Objet", "Date/heure", "Type", "PJ", "Supr"};
        for (int c = 0; c < int(std::size(captions)); ++c)
            list->setCell(0, c, QString::fromUtf8(captions[c]));
        trayUpdate(*this, TrayRequest::Delete);
        if (firstShow) {
            firstShow = false;
            loadFavourite(*this);
            applyTlsRule(*this);
            QCoreApplication::processEvents();
            // As a press of the receive button: an error escaping the scan is reported there
            // and the periodic check still starts.
            if (!CheckBox2->isChecked())
                BitBtn2Click();
            Timer2->start();
            watchNewMail(*this);
        }
        Timer1->stop();
        QCoreApplication::processEvents();
        statusBarPlacement();
        normalGridHeight = SG1->height();
        SG1->setEnabled(true);
        SG1->setFocus();
    });
}

void TForm1::FormClose()
{
    // The preview file holds the last previewed message (often spam): it goes with the program.
    guarded([this] { pane->removeFile(); });
}

void TForm1::FormDestroy()
{
    guarded([this] { trayUpdate(*this, TrayRequest::Delete); });
}

void TForm1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous() || m_showPending)
        return;
    // The show step runs once the window is on screen, so that the start-up scan, which
    // pumps events, happens in a visible window.
    m_showPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_showPending = false;
            if (isVisible())
                FormShow();
        },
        Qt::QueuedConnection);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
    emit closed();
}

// ---- handlers: each runs the owning code ----

void TForm1::BitBtn1Click() { guarded([this] { saveAccount(*this); }); }
void TForm1::ComboBox1DropDown() { guarded([this] { listAccounts(*this); }); }
void TForm1::ComboBox1Change() { guarded([this] { chooseAccount(*this); }); }
void TForm1::Edit4Change() { guarded([this] { portChanged(*this); }); }
void TForm1::BitBtn7Click() { guarded([this] { openBlacklistEditor(*this); }); }
void TForm1::BitBtn2Click() { guarded([this] { headerScan(*this); }); }

void TForm1::SG1DrawCell(QPainter *painter, QRect rect, int column, int row)
{
    guarded([&] { drawMarkCell(*SG1, *painter, rect, column, row); });
}

// Any button acts as the left one, but that the right one over a row's texts opens its menu.
void TForm1::SG1MouseUp(Qt::MouseButton button, QPoint pos)
{
    guarded([&] {
        const QPoint cell = SG1->mouseCoord(pos);
        if (button == Qt::RightButton && cell.y() >= 1 && cell.x() >= 0 && cell.x() < MessageList::Attachments
            && !list->cell(cell.y(), MessageList::From).isEmpty()) {
            currentRow = cell.y();
            showRowMenu(cell.y(), SG1->mapToGlobal(pos));
            return;
        }
        listMouseUp(*this, cell.x(), cell.y());
    });
}

void TForm1::SG1KeyDown(int key)
{
    guarded([&] {
        const QModelIndex current = SG1->currentIndex();
        if (!current.isValid())
            return;
        const int row = current.row() + 1;
        if (key == Qt::Key_Menu) {
            if (!list->cell(row, MessageList::From).isEmpty())
                showRowMenu(row, SG1->mapToGlobal(SG1->cellRect(MessageList::From, row).center()));
            return;
        }
        listKeyDown(*this, key, row);
    });
}

void TForm1::BitBtn3Click() { guarded([this] { toggleView(*this); }); }
void TForm1::BitBtn8Click() { guarded([this] { closePreview(*this); }); }
void TForm1::ListBox1MouseUp() { guarded([this] { attachmentListMouseUp(*this); }); }
void TForm1::BitBtn4Click() { guarded([this] { deleteMarked(*this); }); }
void TForm1::BitBtn5Click() { guarded([this] { saveAttachments(*this); }); }
void TForm1::BitBtn6Click() { guarded([this] { reduceToTray(*this); }); }
void TForm1::Restaurer1Click() { guarded([this] { restoreFromTray(*this); }); }
void TForm1::VerifierMails1Click() { guarded([this] { verifyFromTray(*this); }); }
void TForm1::Quitter1Click() { guarded([this] { quitFromTray(*this); }); }
void TForm1::AProposClick() { guarded([this] { prompter().information(aboutText()); }); }
void TForm1::CheckBox3Click()
{
    guarded([this] {
        QString why;
        if (!autostart::setEnabled(CheckBox3->isChecked(), QCoreApplication::applicationFilePath(), &why)) {
            CheckBox3->setChecked(autostart::enabled());
            prompter().information(why);
        }
    });
}
void TForm1::CheckBox4Click() { guarded([this] { switchSuggestions(*this); }); }
void TForm1::BitBtn9Click() { guarded([this] { openFriendsEditor(*this); }); }
void TForm1::AddToBlacklist1Click() { guarded([this] { addSenderToBlacklist(*this); }); }
void TForm1::AddToFriends1Click() { guarded([this] { addSenderToFriends(*this); }); }
void TForm1::NotSpam1Click() { guarded([this] { notSpam(*this); }); }
void TForm1::Timer1Timer() { guarded([this] { blinkTick(*this); }); }
void TForm1::Timer2Timer() { guarded([this] { periodicTick(*this); }); }

void TForm1::TrayMessage(QSystemTrayIcon::ActivationReason reason)
{
    guarded([&] { trayActivated(*this, reason); });
}
