#include "platform/linux/DBusNotifier.h"

#include "Version.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>

namespace {

// The call waits for the server's answer, which is what tells that the
// notification was taken. A running server answers within milliseconds;
// one the bus starts on the call (most desktops start theirs so) within a
// second or two.
constexpr int kAnswerMs = 3000;
// After a call that timed out, the tick must not stall again and again.
constexpr int kQuietMs = 10 * 60 * 1000;

} // namespace

bool DBusNotifier::notify(const QString &title, const QString &text, Urgency urgency) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && quiet_.hasExpired()) {
        const QString service = QStringLiteral("org.freedesktop.Notifications");
        QDBusMessage call = QDBusMessage::createMethodCall(
            service, QStringLiteral("/org/freedesktop/Notifications"), service,
            QStringLiteral("Notify"));
        // The icon by its name in the hicolor theme, and the launcher's id:
        // GNOME and Plasma show the program's icon with the notification
        // and file it under the program only with these. The urgency goes as
        // the byte (D-Bus "y") the notification protocol defines it as.
        const QString appId = QString::fromUtf8(zarn::kAppId);
        const uchar level = urgency == Urgency::Critical ? 2 : 1;
        const QVariantMap hints{{QStringLiteral("desktop-entry"), appId},
                                {QStringLiteral("urgency"), QVariant::fromValue(level)}};
        call << QGuiApplication::applicationDisplayName() << 0u << appId << title << text
             << QStringList() << hints << -1;
        const QDBusMessage reply = bus.call(call, QDBus::Block, kAnswerMs);
        // The server's id for the notification: it is on its way.
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1 &&
            reply.arguments().constFirst().metaType() == QMetaType::fromType<uint>())
            return true;
        if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply"))
            quiet_.setRemainingTime(kQuietMs);
    }
    return fallback_->notify(title, text, urgency);
}
