#include "WaitLoop.h"

#include "Thread.h"

#include <QCoreApplication>

#include <thread>

void WaitLoopStep()
{
    WaitForSynchronizeRequest(WaitLoopPeriod);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    ServeSynchronizeQueue();
}

void WaitLoop(const std::function<bool()>& done)
{
    while (!done()) {
        WaitLoopStep();
    }
}

void Sleep(unsigned ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
