// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/PelicordeFP.h"

#include <QAction>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <limits>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "mailbox/MessageList.h"
#include "protocol/SessionAccount.h"
#include "window/Controls.h"
#include "window/Icons.h"
#include "window/Scaling.h"

TForm1 *Form1 = nullptr;

const QColor TForm1::GridRestColour(238, 255, 255);
const QColor TForm1::GridScanningColour(128, 0, 0);
const QColor TForm1::GridPreviewColour(192, 192, 192);
const QString TForm1::PreviewFileName = QStringLiteral("Htm_temp.htm");

namespace {

template <typename W>
W *place(W *widget, const char *name, int left, int top, int width, int height)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QLabel *label(QWidget *parent, const char *name, int l, int t, int w, int h, const QString &text)
{
    return place(new QLabel(text, parent), name, l, t, w, h);
}

QLineEdit *edit(QWidget *parent, const char *name, int l, int t, int w, int h)
{
    return place(new QLineEdit(parent), name, l, t, w, h);
}

QPushButton *pushButton(QWidget *parent, const char *name, int l, int t, int w, int h, const QString &text,
                    const QString &hint = {})
{
    auto *b = place(new QPushButton(text, parent), name, l, t, w, h);
    b->setToolTip(hint);
    // A screen reader says the hint of a button that shows only a picture.
    if (text.isEmpty())
        b->setAccessibleName(hint);
    b->setAutoDefault(false);
    return b;
}

QFrame *bevel(QWidget *parent, const char *name, int l, int t, int w, int h, QFrame::Shape shape)
{
    auto *f = place(new QFrame(parent), name, l, t, w, h);
    f->setFrameShape(shape);
    f->setFrameShadow(QFrame::Sunken);
    return f;
}

void setRedBold(QWidget *w, QPalette::ColorRole role)
{
    QFont f = w->font();
    f.setBold(true);
    w->setFont(f);
    QPalette p = w->palette();
    p.setColor(role, Qt::red);
    w->setPalette(p);
}

} // namespace

void TForm1::buildDesign()
{
    setWindowTitle(QStringLiteral("Pelicorde  V" PELICORDE_VERSION));
    setWindowIcon(icons::windowIcon());
    scaling::registerFontStandIns();
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    resize(1016, 741);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // Top band: the account fields.
    Label5 = label(this, "Label5", 10, 15, 77, 13, QStringLiteral("Serveur Pop3"));
    Edit3 = edit(this, "Edit3", 93, 8, 128, 21);
    Label11 = label(this, "Label11", 238, 15, 59, 13, QStringLiteral("Port Pop3"));
    Edit4 = edit(this, "Edit4", 311, 8, 46, 21);
    Label10 = label(this, "Label10", 376, 15, 95, 13, QStringLiteral("Mot de passe Pop3"));
    Edit16 = edit(this, "Edit16", 490, 8, 121, 21);
    Edit16->setEchoMode(QLineEdit::Password);
    // The style's own mask is a bullet; the design masks with '*'.
    Edit16->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    Label6 = label(this, "Label6", 628, 15, 77, 13, QStringLiteral("Mail receveur"));
    Edit15 = edit(this, "Edit15", 716, 8, 121, 21);
    BitBtn1 = pushButton(this, "BitBtn1", 848, 8, 64, 25, QStringLiteral("Sauvegarde"),
                     QStringLiteral("Sauvegarde le compte receveur actuellement utilisé"));
    BitBtn6 = pushButton(this, "BitBtn6", 918, 8, 90, 25, QStringLiteral("Réduire en icone"));
    Bevel1 = bevel(this, "Bevel1", 4, 36, 1004, 2, QFrame::HLine);

    // Command band.
    Label1 = label(this, "Label1", 10, 51, 53, 13, QStringLiteral("Compte"));
    ComboBox1 = place(new ComboBox(this), "ComboBox1", 92, 46, 169, 21);
    ComboBox1->setEditable(false);
    ComboBox1->setToolTip(QStringLiteral("Sélectionne un compte existant"));
    Bevel2 = bevel(this, "Bevel2", 286, 39, 2, 38, QFrame::VLine);
    BitBtn2 = pushButton(this, "BitBtn2", 311, 44, 183, 29, QStringLiteral("Réception des messages"));
    BitBtn2->setIcon(icons::mailbox());
    BitBtn2->setIconSize(QSize(20, 20));
    CheckBox1 = place(new QCheckBox(QStringLiteral("P.J."), this), "CheckBox1", 505, 50, 41, 17);
    CheckBox1->setToolTip(QStringLiteral("Gérer les Pièces-Jointes"));
    CheckBox2 = place(new QCheckBox(QStringLiteral("TLS"), this), "CheckBox2", 556, 50, 41, 17);
    CheckBox2->setToolTip(QStringLiteral("Connection sécurisée SSL"));
    CheckBox2->setEnabled(false);
    Edit10 = edit(this, "Edit10", 603, 48, 53, 21);
    Edit10->setText(QStringLiteral("0"));
    // The counter is an output: typing there (a password meant for another field, say) would
    // only show it in clear.
    Edit10->setReadOnly(true);
    Edit10->setFocusPolicy(Qt::NoFocus);
    Edit10->setAccessibleName(QStringLiteral("Messages lus"));
    setRedBold(Edit10, QPalette::Text);
    ProgressBar1 = place(new QProgressBar(this), "ProgressBar1", 662, 50, 271, 20);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();
    BitBtn7 = pushButton(this, "BitBtn7", 944, 44, 29, 29, QString(), QStringLiteral("Ouvrir la liste noire"));
    BitBtn7->setIcon(icons::clipboard());
    BitBtn7->setIconSize(QSize(32, 32));
    BitBtn4 = pushButton(this, "BitBtn4", 979, 44, 29, 29, QString(),
                     QStringLiteral("Suppression des messages cochés sur le serveur.  IRREVERSIBLE !!"));
    BitBtn4->setIcon(icons::pencil());
    BitBtn4->setIconSize(QSize(14, 14));
    Image1 = place(new QLabel(this), "Image1", 140, 35, 28, 23);
    Image1->setPixmap(icons::traySteady());
    Image1->hide();
    Image2 = place(new QLabel(this), "Image2", 178, 35, 28, 24);
    Image2->setPixmap(icons::trayAlert());
    Image2->hide();

    // The message list.
    list = new MessageList(this);
    SG1 = place(new MessageGrid(this), "SG1", 4, 80, 1007, 636);
    SG1->setList(list);
    static constexpr int widths[MessageList::ColumnCount] = {153, 634, 119, 28, 26, 22, 10};
    for (int c = 0; c < MessageList::ColumnCount; ++c)
        SG1->setColumnWidth(c, widths[c]);
    // However narrow the screen, Date/heure, Type, PJ and Supr stay in view: a tick the user
    // cannot see would still be deleted. The subject gives up the width, down to a few words.
    SG1->setElasticColumn(MessageList::Subject, 1007, 100);
    SG1->setColour(GridRestColour);

    // The preview pane.
    ListBox1 = place(new ListBox(this), "ListBox1", 18, 73, 935, 39);
    ListBox1->setStyleSheet(QStringLiteral("QListWidget::item { height: 13px; }"));
    ListBox1->hide();
    Label7 = label(this, "Label7", 23, 257, 54, 13, QStringLiteral("De"));
    Edit11 = edit(this, "Edit11", 82, 249, 215, 21);
    Label9 = label(this, "Label9", 307, 252, 14, 13, QStringLiteral("A"));
    Edit12 = edit(this, "Edit12", 327, 249, 214, 21);
    Label15 = label(this, "Label15", 572, 252, 95, 13, QStringLiteral("Date et heure envoi"));
    Edit13 = edit(this, "Edit13", 676, 249, 71, 21);
    Edit14 = edit(this, "Edit14", 753, 249, 70, 21);
    BitBtn5 = pushButton(this, "BitBtn5", 853, 247, 52, 25, QStringLiteral("PJ"),
                     QStringLiteral("Télécharger les pièces-jointes"));
    setRedBold(BitBtn5, QPalette::ButtonText);
    BitBtn3 = pushButton(this, "BitBtn3", 906, 247, 47, 25, QStringLiteral("Htm/Txt"),
                     QStringLiteral("Bascule affichage Texte <-> Html"));
    BitBtn8 = pushButton(this, "BitBtn8", 966, 247, 25, 25, QString(), QStringLiteral("Fermer cette fenêtre d'aperçu"));
    BitBtn8->setIcon(icons::redCross());
    BitBtn8->setIconSize(QSize(19, 19));
    // Escape closes the pane from anywhere in the window; the shortcut lives only while the
    // button shows, that is while the pane is open.
    BitBtn8->setShortcut(Qt::Key_Escape);
    Label8 = label(this, "Label8", 23, 279, 54, 13, QStringLiteral("Objet"));
    Edit17 = edit(this, "Edit17", 83, 276, 925, 21);
    // The pane shows a message's fields whole, however long; the list keeps only their start.
    for (QLineEdit *e : {Edit11, Edit12, Edit13, Edit14, Edit17})
        e->setMaxLength(std::numeric_limits<int>::max());
    for (QWidget *w : {static_cast<QWidget *>(Label7), static_cast<QWidget *>(Edit11), static_cast<QWidget *>(Label9),
                       static_cast<QWidget *>(Edit12), static_cast<QWidget *>(Label15), static_cast<QWidget *>(Edit13),
                       static_cast<QWidget *>(Edit14), static_cast<QWidget *>(BitBtn5), static_cast<QWidget *>(BitBtn3),
                       static_cast<QWidget *>(BitBtn8), static_cast<QWidget *>(Label8), static_cast<QWidget *>(Edit17)})
        w->hide();
    WebBrowser1 = place(new QWidget(this), "WebBrowser1", 4, 306, 1007, 397);
    WebBrowser1->setFocusPolicy(Qt::StrongFocus);
    Panel1 = place(new QFrame(this), "Panel1", 4, 306, 1007, 409);
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setAutoFillBackground(true);
    Memo2 = place(new QPlainTextEdit(Panel1), "Memo2", 0, 0, 1007, 409);
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A memo, not an editor of tabulated text: Tab goes on to the next control.
    Memo2->setTabChangesFocus(true);
    {
        QPalette p = Memo2->palette();
        p.setColor(QPalette::Base, Qt::yellow);
        Memo2->setPalette(p);
    }
    Memo2->hide();
    StatusBar1 = place(new QStatusBar(this), "StatusBar1", 0, 722, 1016, 19);
    StatusBar1->setSizeGripEnabled(false);
    // At the status line's end, out of the way of the design's controls.
    CheckBox3 = new QCheckBox(QStringLiteral("Lancer avec la session"), StatusBar1);
    CheckBox3->setObjectName(QStringLiteral("CheckBox3"));
    CheckBox3->setToolTip(QStringLiteral("Démarre Pelicorde dans la zone de notification à l'ouverture de la session"));
    StatusBar1->addPermanentWidget(CheckBox3);
    CheckBox4 = new QCheckBox(QStringLiteral("&Suggestions"), StatusBar1);
    CheckBox4->setObjectName(QStringLiteral("CheckBox4"));
    CheckBox4->setToolTip(QStringLiteral("Coche aussi les spams probables, d'après ce que Pelicorde a appris de vos "
                                         "suppressions"));
    CheckBox4->setChecked(true);
    StatusBar1->addPermanentWidget(CheckBox4);
    BitBtn9 = new QPushButton(QStringLiteral("Amis"), StatusBar1);
    BitBtn9->setObjectName(QStringLiteral("BitBtn9"));
    BitBtn9->setToolTip(QStringLiteral("Ouvrir la liste des amis : leurs messages ne sont jamais cochés"));
    BitBtn9->setFlat(true);
    StatusBar1->addPermanentWidget(BitBtn9);

    // Each field is named by its label, for screen readers and the label's own mnemonic alike.
    for (const auto &[l, field] : {std::pair<QLabel *, QWidget *>{Label5, Edit3}, {Label11, Edit4}, {Label10, Edit16},
                                   {Label6, Edit15}, {Label1, ComboBox1}, {Label7, Edit11}, {Label9, Edit12},
                                   {Label15, Edit13}, {Label8, Edit17}})
        l->setBuddy(field);
    SG1->setAccessibleName(QStringLiteral("Liste des messages"));

    // Stacking: labels at the back; the full-height list covers the preview area and the
    // pane's fields, while the pane's three buttons stay in front of it.
    for (QLabel *l : {Label1, Label5, Label6, Label7, Label8, Label9, Label10, Label11, Label15})
        l->lower();
    SG1->raise();
    for (QWidget *w : {static_cast<QWidget *>(ListBox1), static_cast<QWidget *>(Edit11),
                       static_cast<QWidget *>(Edit12), static_cast<QWidget *>(Edit13),
                       static_cast<QWidget *>(Edit14), static_cast<QWidget *>(Edit17)})
        w->stackUnder(SG1);
    BitBtn3->raise();
    BitBtn5->raise();
    BitBtn8->raise();

    // Tab order of the design; Panel1 and ProgressBar1 take no focus (Memo2 stands in Panel1's place).
    m_tabOrder = {Edit3,  Edit4,    Edit10,  Edit11,  Edit12,      Edit13, Edit14, Edit15,  Edit16,
                  Edit17, ListBox1, BitBtn2, BitBtn1, WebBrowser1, Memo2,  SG1,    BitBtn3, CheckBox1,
                  BitBtn4, BitBtn5, BitBtn6, BitBtn8, ComboBox1,   CheckBox2, BitBtn7, CheckBox3, CheckBox4, BitBtn9};
    for (qsizetype i = 1; i < m_tabOrder.size(); ++i)
        QWidget::setTabOrder(m_tabOrder[i - 1], m_tabOrder[i]);
    // Tab leaves the list for the next control instead of walking its cells.
    SG1->setTabKeyNavigation(false);

    // Non-visual parts.
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Restaurer1 = PopupMenu1->addAction(QStringLiteral("&Restaurer"));
    Restaurer1->setObjectName(QStringLiteral("Restaurer1"));
    VerifierMails1 = PopupMenu1->addAction(QStringLiteral("&Vérifier les mails reçus"));
    VerifierMails1->setObjectName(QStringLiteral("VerifierMails1"));
    Quitter1 = PopupMenu1->addAction(QStringLiteral("&Quitter"));
    Quitter1->setObjectName(QStringLiteral("Quitter1"));
    RowMenu = new QMenu(this);
    RowMenu->setObjectName(QStringLiteral("RowMenu"));
    AddToBlacklist1 = RowMenu->addAction(QStringLiteral("Ajouter l'expéditeur à la &liste noire"));
    AddToBlacklist1->setObjectName(QStringLiteral("AddToBlacklist1"));
    AddToFriends1 = RowMenu->addAction(QStringLiteral("Ajouter l'expéditeur aux &amis"));
    AddToFriends1->setObjectName(QStringLiteral("AddToFriends1"));
    NotSpam1 = RowMenu->addAction(QStringLiteral("Ce n'est &pas un spam"));
    NotSpam1->setObjectName(QStringLiteral("NotSpam1"));
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(60000);
}

QList<QWidget *> TForm1::designOrder() const
{
    return {Label5,    Edit3,    Label11, Edit4,   Label10, Edit16,  Label6,  Edit15,  BitBtn1,
            BitBtn6,   Bevel1,   Label1,  ComboBox1, Bevel2, BitBtn2, CheckBox1, CheckBox2, Edit10,
            ProgressBar1, BitBtn7, BitBtn4, Image1, Image2, SG1,    ListBox1, Label7,  Edit11,
            Label9,    Edit12,   Label15, Edit13,  Edit14,  BitBtn5, BitBtn3, BitBtn8, Label8,
            Edit17,    WebBrowser1, Panel1, Memo2, StatusBar1};
}

bool TForm1::focusNextPrevChild(bool next)
{
    // Tab follows the design's order over the controls the user can see and use. The web view
    // that comes with the first preview joins the chain at the end, so its place is kept here;
    // it is a stop only while it is the view in front of the open pane, since covered by the list
    // or the text view, focus would vanish into it.
    const auto stop = [this](QWidget *w) {
        return w->isVisibleTo(this) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)
            && (w != WebBrowser1 || (!Label7->isHidden() && Panel1->isHidden()));
    };
    const QWidget *current = focusWidget();
    const auto at = std::find_if(m_tabOrder.cbegin(), m_tabOrder.cend(),
                                 [current](QWidget *w) { return w == current || w->isAncestorOf(current); });
    if (at == m_tabOrder.cend())
        return QWidget::focusNextPrevChild(next);
    const qsizetype n = m_tabOrder.size();
    for (qsizetype step = 1; step < n; ++step) {
        QWidget *w = m_tabOrder[(at - m_tabOrder.cbegin() + (next ? step : n - step)) % n];
        if (stop(w)) {
            w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
}

bool TForm1::suggestionsOn() const { return CheckBox4->isChecked(); }

int TForm1::rowOfMenu() const
{
    return menuRow >= 1 && menuRow < list->rows() && list->uid(menuRow) == m_menuUid
                   && list->cell(menuRow, MessageList::From) == m_menuSender && !m_menuSender.isEmpty()
               ? menuRow
               : 0;
}

void TForm1::showRowMenu(int row, QPoint globalPos)
{
    menuRow = row;
    m_menuSender = list->cell(row, MessageList::From);
    m_menuUid = list->uid(row);
    // Not exec(): the window's events and timers go on while the menu is open.
    RowMenu->popup(globalPos);
}

void TForm1::statusBarPlacement()
{
    StatusBar1->setGeometry(SG1->x(), SG1->y() + SG1->height() + 5, SG1->width(), 19);
}

void TForm1::setGridColour(const QColor &colour) { SG1->setColour(colour); }

QColor TForm1::gridColour() const { return SG1->colour(); }

void TForm1::setProgressBarColour(const QColor &colour)
{
    QPalette p = ProgressBar1->palette();
    p.setColor(QPalette::Highlight, colour);
    ProgressBar1->setPalette(p);
}

accounts::Account TForm1::accountFields() const
{
    return {Edit3->text(), Edit4->text(), Edit16->text(), Edit15->text()};
}

MailAccount TForm1::account() const
{
    const accounts::Account fields = accountFields();
    return sessionAccount(fields.server, fields.port, fields.address, fields.password, CheckBox2->isChecked());
}

void TForm1::setAccountFields(const accounts::Account &fields)
{
    // Edit4's change handler pumps events; with the other fields half loaded a waiting click
    // could start a scan on a mix of two accounts. Every caller applies the TLS rule right after
    // loading, so nothing is lost by holding the handler back here.
    const QSignalBlocker blockPort(Edit4);
    Edit3->setText(fields.server);
    Edit4->setText(fields.port);
    Edit16->setText(fields.password);
    Edit15->setText(fields.address);
    // Show each field from its start, as typed text would be read.
    for (QLineEdit *field : {Edit3, Edit4, Edit16, Edit15})
        field->setCursorPosition(0);
}

void TForm1::setTls(bool tls) { CheckBox2->setChecked(tls); }

void TForm1::setAccountChoices(const QList<accounts::AccountItem> &items)
{
    // Rebuilding moves the current item; only a user's pick is a choice (the change handler
    // listens to activated(), which rebuilding never emits).
    const QSignalBlocker block(ComboBox1);
    ComboBox1->clear();
    // Each item carries its own file: "Bob.ADR" and "Bob.adr" are two accounts.
    for (const accounts::AccountItem &item : items)
        ComboBox1->addItem(item.name, item.fileName);
    ComboBox1->setCurrentIndex(-1); // nothing preselected
}

QString TForm1::chosenAccountFile() const { return ComboBox1->currentData().toString(); }

void TForm1::clearAccountChoice()
{
    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->setCurrentIndex(-1);
}

QString TForm1::aboutText() const
{
    return QStringLiteral("Pelicorde " PELICORDE_VERSION "\n\nDébarrasse une boîte aux lettres POP3 ou IMAP de ses spams "
                          "sans télécharger le courrier.\n\nLogiciel libre, sous licence GNU GPL version 3 ou "
                          "ultérieure.\n\nDonnées : %1\n\nF5 : réception des messages ; Ctrl+Q : quitter.")
        .arg(dataFolder);
}

QColor TForm1::progressBarColour() const { return ProgressBar1->palette().color(QPalette::Highlight); }
