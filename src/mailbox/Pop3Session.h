#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QEventLoop;
class QSslSocket;
class QTimer;

// Where and as whom a session logs in.
struct Pop3Account
{
    QString host;
    quint16 port = 110;
    QString user;
    QString password;
    bool tls = false; // implicit TLS from the first byte, no certificate verification
};

// One POP3 conversation (RFC 1939, pipelining after RFC 2449) for one operation of the program.
// Every wait runs a local event loop, so the window stays alive; every failure throws Error with
// a French text naming the server and the step. Releasing the session drops the connection
// without QUIT: messages marked for deletion stay on the server unless quit() was called.
class Pop3Session
{
public:
    using Each = std::function<void(int n, const QByteArray &bytes)>;

    // timeoutMs: how long any step may go without the server sending anything.
    explicit Pop3Session(int timeoutMs = 30000);
    ~Pop3Session();
    Pop3Session(const Pop3Session &) = delete;
    Pop3Session &operator=(const Pop3Session &) = delete;

    // Connects, reads the greeting and logs in with USER/PASS; returns only when logged in.
    // A refused USER or PASS throws LoginRefused.
    void open(const Pop3Account &account);

    int messageCount();                // STAT
    QByteArray header(int n);          // TOP n 0 (with the blank line); RETR cut after the blank line without TOP
    QByteArray message(int n);         // RETR
    bool remove(int n);                // DELE; false when the server refuses it
    QHash<int, QString> uniqueIds();   // UIDL; empty when the server does not offer it
    QStringList capabilities();        // CAPA, asked once; empty when the server has no CAPA
    bool canPipeline();                // CAPA lists PIPELINING and pipelining is allowed
    int loginDelay();                  // seconds between logins after CAPA LOGIN-DELAY; 0 when none

    // The headers (or whole messages) of first..last, handed to each(n, bytes) in order. With
    // pipelining the commands go ahead of the replies within a bounded window; otherwise one at
    // a time. each may pump events; if it throws, the exception propagates and the session is
    // no longer usable (release it).
    void headers(int first, int last, const Each &each);
    void messages(int first, int last, const Each &each);

    void setPipelining(bool allowed);  // false forces one command at a time
    void quit();                       // QUIT, so that deletions take effect; the connection is closed

private:
    struct Reply
    {
        bool ok = false;
        QByteArray status; // text after +OK / -ERR
        QByteArray body;   // multi-line replies only, dot-unstuffed, line ends kept
    };
    enum class Support { Unknown, Yes, No };

    Reply command(const QByteArray &line, bool multiLine, const QString &step);
    Reply expectOk(const QByteArray &line, bool multiLine, const QString &step);
    Reply readReply(bool multiLine, const QString &step);
    bool parseReply(bool multiLine, Reply &out, const QString &step);
    void send(const QByteArray &bytes);
    void waitForData(const QString &step);
    void waitUntilConnected();
    void pull();
    bool useTop();
    void batch(int first, int last, bool headersOnly, const Each &each);
    void requireOpen() const;

    QString server() const;
    [[noreturn]] void fail(const QString &text);
    [[noreturn]] void failDropped(const QString &step);
    [[noreturn]] void failTimeout(const QString &step);
    [[noreturn]] void failRefused(const QString &step, const Reply &reply);

    int m_timeoutMs;
    Pop3Account m_account;
    std::unique_ptr<QSslSocket> m_socket;
    std::unique_ptr<QTimer> m_timer;
    QEventLoop *m_loop = nullptr;
    QElapsedTimer m_progress;
    bool m_open = false;
    bool m_broken = false;
    bool m_pipelining = true;

    // Receive buffer: bytes before m_pos are consumed; it is compacted only when the consumed
    // part dominates, so parsing stays linear in the bytes received.
    QByteArray m_buf;
    qsizetype m_pos = 0;
    qsizetype m_searchFrom = 0; // where the search for the next line end resumes
    bool m_inBody = false;      // a multi-line reply's status line was read, body in progress
    Reply m_partial;

    bool m_capaAsked = false;
    QStringList m_capabilities;
    Support m_top = Support::Unknown;
};
