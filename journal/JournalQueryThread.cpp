#include "journal/JournalQueryThread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <thread>

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
    std::thread Thread;
};

TJournalQueryThread::TJournalQueryThread(const QString& journalPath)
    : FImpl(std::make_unique<TImpl>(journalPath)) {
    FImpl->Thread = std::thread([impl = FImpl.get()] {
        pthread_setname_np(pthread_self(), "journal-reader");
        impl->Run();
    });
}

TJournalQueryThread::~TJournalQueryThread() {
    {
        std::lock_guard<std::mutex> lock(FImpl->Mutex);
        FImpl->Stop = true;
        FImpl->Jobs.clear();
    }
    FImpl->Wake.notify_all();
    FImpl->Thread.join();
}

void TJournalQueryThread::Post(std::function<void(TJournalReader&)> job) {
    {
        std::lock_guard<std::mutex> lock(FImpl->Mutex);
        FImpl->Jobs.push_back(std::move(job));
    }
    FImpl->Wake.notify_one();
}
