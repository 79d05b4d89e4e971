#include "lock_protocol.h"

#include <chrono>
#include <random>
#include <thread>

namespace veltra {

bool RetryLock(const std::function<bool()>& attempt, int retries, int waitMs,
               const std::function<void()>& beforeRetry) {
    if (attempt()) return true;
    for (int i = 0; i < retries; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        if (beforeRetry) beforeRetry();
        if (attempt()) return true;
    }
    return false;
}

int32_t RandomReadLockByte() {
    thread_local std::mt19937 gen{std::random_device{}()};
    std::uniform_int_distribution<int32_t> dist(0, 65534);
    int32_t r = dist(gen);
    return r == 0 ? 1 : r;
}

}  // namespace veltra

#include "errors.h"
#include "file_handler.h"

namespace veltra {

bool TReaderWriterLocks::AcquireRead() {
    if (m_ReadLocked) return true;
    m_ReadByte = RandomReadLockByte();
    m_ReadLocked = RetryLock([&] { return m_File.LockRange(kReadLockBase - m_ReadByte, 1); },
                             kPhaseLockRetries, kPhaseLockWaitMs,
                             [&] { m_ReadByte = RandomReadLockByte(); });
    return m_ReadLocked;
}

bool TReaderWriterLocks::ReleaseRead() {
    if (!m_ReadLocked) return true;
    m_ReadLocked = false;
    return m_File.UnlockRange(kReadLockBase - m_ReadByte, 1);
}

bool TReaderWriterLocks::AcquireWrite() {
    if (m_WriteLocked) return true;
    m_WriteLocked = RetryLock(
        [&] { return m_File.LockRange(kRangeWriteLockOffset, kRangeWriteLockLength); },
        kPhaseLockRetries, kPhaseLockWaitMs);
    return m_WriteLocked;
}

bool TReaderWriterLocks::ReleaseWrite() {
    if (!m_WriteLocked) return true;
    m_WriteLocked = false;
    return m_File.UnlockRange(kRangeWriteLockOffset, kRangeWriteLockLength);
}

void TReaderWriterLocks::ReadHeaderAtOpen(bool locksDisabled, const std::function<void()>& readAndCheck) {
    try {
        readAndCheck();
        return;
    } catch (const EVeltraEngineError&) {
        if (locksDisabled || !AcquireRead()) throw;
    }
    try {
        readAndCheck();
    } catch (...) {
        ReleaseRead();
        throw;
    }
    if (!ReleaseRead()) RaiseEngineError(ecLockFailure, m_File.FileName());
}

}  // namespace veltra
