#include "qt/wake_lock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#endif

namespace qt_adapters {

#ifdef _WIN32

void WakeLock::keepAwake(bool on) {
    if (on == held_) return;
    SetThreadExecutionState(on ? (ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED)
                               : ES_CONTINUOUS);
    held_ = on;
}

#else

namespace {

// Inhibit on one of the session's services; 0 when it is not there.
uint32_t inhibit(const QString& service, const QString& path) {
    QDBusInterface bus(service, path, service, QDBusConnection::sessionBus());
    if (!bus.isValid()) return 0;
    const QDBusReply<uint32_t> cookie =
        bus.call(QStringLiteral("Inhibit"), QStringLiteral("Tarsel电压电流测量"),
                 QStringLiteral("正在测试"));
    return cookie.isValid() ? cookie.value() : 0;
}

void release(const QString& service, const QString& path, uint32_t cookie) {
    if (cookie == 0) return;
    QDBusInterface bus(service, path, service, QDBusConnection::sessionBus());
    if (bus.isValid()) bus.call(QStringLiteral("UnInhibit"), cookie);
}

const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kPower = QStringLiteral("org.freedesktop.PowerManagement.Inhibit");
const QString kPowerPath = QStringLiteral("/org/freedesktop/PowerManagement/Inhibit");

}  // namespace

void WakeLock::keepAwake(bool on) {
    if (on == held_) return;
    held_ = on;
    if (!QDBusConnection::sessionBus().isConnected()) return;
    if (on) {
        screenSaverCookie_ = inhibit(kScreenSaver, kScreenSaverPath);
        powerCookie_ = inhibit(kPower, kPowerPath);
    } else {
        release(kScreenSaver, kScreenSaverPath, screenSaverCookie_);
        release(kPower, kPowerPath, powerCookie_);
        screenSaverCookie_ = powerCookie_ = 0;
    }
}

#endif

}  // namespace qt_adapters
