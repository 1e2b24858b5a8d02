#include "journal/JournalQueryThread.h"

#include <QThread>

#include <condition_variable>
#include <deque>
#include <mutex>

class TJournalQueryThread::TImpl {
public:
    explicit TImpl(const QString& path) : Path(path) {}

    void Run() {
        TJournalReader reader(Path);
        std::unique_lock<std::mutex> lock(Mutex);
        for (;;) {
            Wake.wait(lock, [&] { return Stop || !Jobs.empty(); });
            if (Stop)
                return;
            const std::function<void(TJournalReader&)> job = std::move(Jobs.front());
            Jobs.pop_front();
            lock.unlock();
            job(reader);
            lock.lock();
        }
    }

    const QString Path;
    std::mutex Mutex;
    std::condition_variable Wake;
    std::deque<std::function<void(TJournalReader&)>> Jobs;
    bool Stop = false;
    std::unique_ptr<QThread> Thread;
};

TJournalQueryThread::TJournalQueryThread(const QString& journalPath)
    : FImpl(std::make_unique<TImpl>(journalPath)) {
    FImpl->Thread.reset(QThread::create([impl = FImpl.get()] { impl->Run(); }));
    FImpl->Thread->setObjectName(QStringLiteral("journal-reader"));
    FImpl->Thread->start();
}

TJournalQueryThread::~TJournalQueryThread() {
    {
        std::lock_guard<std::mutex> lock(FImpl->Mutex);
        FImpl->Stop = true;
        FImpl->Jobs.clear();
    }
    FImpl->Wake.notify_all();
    FImpl->Thread->wait();
}

void TJournalQueryThread::Post(std::function<void(TJournalReader&)> job) {
    {
        std::lock_guard<std::mutex> lock(FImpl->Mutex);
        FImpl->Jobs.push_back(std::move(job));
    }
    FImpl->Wake.notify_one();
}
