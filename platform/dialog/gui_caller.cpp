// Blocking queued calls onto the GUI thread behind a gate and an in-flight count.
#include "platform/dialog/gui_caller.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <thread>

namespace platform {
namespace {

constexpr std::chrono::milliseconds kTeardownWait {2000};   // for calls in flight when the caller goes away

} // namespace

GuiCaller::GuiCaller() : m_target(new QObject)
{
    m_target->moveToThread(QCoreApplication::instance()->thread());
}

GuiCaller::~GuiCaller()
{
    Shut();
    // A call still in flight after the wait would be delivered to a deleted
    // object; keeping the object is the lesser harm.
    if (WaitIdle(kTeardownWait))
        delete m_target;
}

bool GuiCaller::Call(const std::function<void()>& work)
{
    if (QThread::currentThread() == m_target->thread()) {
        if (IsShut())
            return false;
        work();
        return true;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_shut)
            return false;
        ++m_inFlight;
    }
    bool ran = false;
    // The count drops on the GUI side, so WaitIdle never waits on a worker
    // that has yet to be scheduled after its call ran.
    QMetaObject::invokeMethod(
        m_target,
        [this, &work, &ran] {
            if (!IsShut()) {
                work();
                ran = true;
            }
            std::lock_guard lock(m_mutex);
            --m_inFlight;
        },
        Qt::BlockingQueuedConnection);
    return ran;
}

void GuiCaller::Shut()
{
    std::lock_guard lock(m_mutex);
    m_shut = true;
}

bool GuiCaller::IsShut() const
{
    std::lock_guard lock(m_mutex);
    return m_shut;
}

size_t GuiCaller::InFlight() const
{
    std::lock_guard lock(m_mutex);
    return m_inFlight;
}

bool GuiCaller::WaitIdle(std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    while (InFlight() > 0) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        // Wakes the wait below at the deadline if no call arrives before it.
        QTimer::singleShot(std::chrono::milliseconds(deadline.remainingTime()), &loop, [] {});
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void StartWorker(std::function<void()> work)
{
    std::thread(std::move(work)).detach();
}

} // namespace platform
