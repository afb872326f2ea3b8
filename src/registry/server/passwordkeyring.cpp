#include "passwordkeyring.h"

#include "mzlog.h"
#include "productinfo.h"

#include <QEventLoop>
#include <QTimer>
#include <memory>
#include <qt5keychain/keychain.h>

namespace {
// Long enough for the clerk to answer the keyring's own unlock prompt.
constexpr int timeout = 30000;
// Never stored: a read of it tells a keyring that answers from one that does not.
const QString probeKey = QStringLiteral("availability-probe");

struct Answer {
    bool finished = false;
    QKeychain::Error error = QKeychain::OtherError;
    QString errorText;
    QString text;
};

QString service() {
    return ProductTypeInfo::appName();
}

// Runs `job` and waits for it. The job deletes itself when it finishes, also after a timeout,
// so the answer it may still bring lands in a shared record rather than on a finished stack.
Answer run(QKeychain::Job* job) {
    auto answer = std::make_shared<Answer>();
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [answer, &loop](QKeychain::Job* done) {
        answer->finished = true;
        answer->error = done->error();
        answer->errorText = done->errorString();
        if (auto* reading = qobject_cast<QKeychain::ReadPasswordJob*>(done))
            answer->text = reading->textData();
        loop.quit();
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    job->start();
    if (!answer->finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!answer->finished)
        answer->errorText = QStringLiteral("Хранилище паролей не ответило за %1 с.").arg(timeout / 1000);
    return *answer;
}

bool fail(const Answer& answer, const char* what, const QString& key, QString* error) {
    MZ_LOG() << "keyring" << what << "failed for" << key << answer.error << answer.errorText;
    if (error)
        *error = PasswordKeyring::unavailableText(answer.errorText);
    return false;
}

struct Availability {
    bool known = false;
    bool yes = false;
    QString reason;
};
} // namespace

int PasswordKeyring::timeoutMs() {
    return timeout;
}

QString PasswordKeyring::unavailableText(const QString& detail) {
    QString text = QStringLiteral("Хранилище паролей рабочего стола недоступно, поэтому пароль нельзя запомнить.");
    if (!detail.isEmpty())
        text += QLatin1Char('\n') + detail;
    return text;
}

bool PasswordKeyring::available(QString* reason) {
    static Availability state;
    if (!state.known) {
        auto* job = new QKeychain::ReadPasswordJob(service());
        job->setKey(probeKey);
        const Answer answer = run(job);
        state.known = true;
        state.yes = answer.finished && (answer.error == QKeychain::NoError || answer.error == QKeychain::EntryNotFound);
        if (!state.yes) {
            state.reason = unavailableText(answer.errorText);
            MZ_LOG() << "no keyring answers:" << answer.error << answer.errorText;
        }
    }
    if (reason)
        *reason = state.reason;
    return state.yes;
}

bool PasswordKeyring::read(const QString& key, QString* password, QString* error) {
    password->clear();
    auto* job = new QKeychain::ReadPasswordJob(service());
    job->setKey(key);
    const Answer answer = run(job);
    if (answer.finished && answer.error == QKeychain::EntryNotFound)
        return true;
    if (!answer.finished || answer.error != QKeychain::NoError)
        return fail(answer, "read", key, error);
    *password = answer.text;
    return true;
}

bool PasswordKeyring::write(const QString& key, const QString& password, QString* error) {
    auto* job = new QKeychain::WritePasswordJob(service());
    job->setKey(key);
    job->setTextData(password);
    const Answer answer = run(job);
    if (!answer.finished || answer.error != QKeychain::NoError)
        return fail(answer, "write", key, error);
    return true;
}

bool PasswordKeyring::remove(const QString& key, QString* error) {
    auto* job = new QKeychain::DeletePasswordJob(service());
    job->setKey(key);
    const Answer answer = run(job);
    if (answer.finished && (answer.error == QKeychain::NoError || answer.error == QKeychain::EntryNotFound))
        return true;
    return fail(answer, "remove", key, error);
}
