// TDataFile's side of the lock protocol (drawn in lock_protocol.h): read and
// write phases, record locks and detection of other processes' changes.
#include <algorithm>

#include "data_file.h"
#include "errors.h"
#include "journal.h"
#include "lock_protocol.h"

namespace veltra {

bool TDataFile::BeginRead() {
    if (m_ReadPhase || m_WritePhase || LocksDisabled()) return false;
    AcquireReadLocks();
    // Under a read lock no writer is at work, so a journal found now was
    // left by one that died: undo it with write locks of its own, then read.
    if (JournalExists(m_JournalPath)) {
        EndRead();
        UndoLeftoverJournal(ActualPath());
        AcquireReadLocks();
        DetectChanges();
        return true;
    }
    return DetectChanges();
}

void TDataFile::AcquireReadLocks() {
    if (!m_Index->AcquireReadLock()) Raise(ecLockFailure);
    TBlobFile* blob = BlobFieldCount() != 0 ? BlobFile() : nullptr;
    if (blob && !blob->AcquireReadLock()) {
        // Give the index read lock back at once rather than keep it until the
        // next read phase: a held read lock stalls every writer.
        m_Index->ReleaseReadLock();
        Raise(ecLockFailure);
    }
    m_ReadPhase = true;
    ++m_Stats.ReadPhases;
}

void TDataFile::EndRead() {
    if (!m_ReadPhase) return;
    m_ReadPhase = false;
    bool ok = true;
    if (TBlobFile* blob = BlobFile()) ok = blob->ReleaseReadLock();
    ok = m_Index->ReleaseReadLock() && ok;
    if (!ok) Raise(ecLockFailure);
}

void TDataFile::BeginWrite() {
    if (m_WritePhase || LocksDisabled()) return;
    // A read phase of our own would not conflict with our write locks (same
    // open files), but it must not outlive the write phase unnoticed.
    EndRead();
    bool dataLocked = RetryLock([&] { return LockRange(kTableWriteLockOffset, 1); },
                                kPhaseLockRetries, kPhaseLockWaitMs);
    if (!dataLocked) Raise(ecLockFailure);
    m_DataWriteLocked = true;
    TBlobFile* blob = BlobFieldCount() != 0 ? BlobFile() : nullptr;
    bool ok = m_Index->AcquireWriteLock() && (!blob || blob->AcquireWriteLock());
    if (!ok) {
        // Release what was taken, in reverse order, so that other writers are
        // not blocked by a phase that never started.
        if (blob) blob->ReleaseWriteLock();
        m_Index->ReleaseWriteLock();
        UnlockRange(kTableWriteLockOffset, 1);
        m_DataWriteLocked = false;
        Raise(ecLockFailure);
    }
    m_WritePhase = true;
    // The last moment before this process could write over a change that a
    // dead writer left half-written.
    if (JournalExists(m_JournalPath)) UndoJournal(m_JournalPath, TableFiles(), m_ForceBufferFlush);
    DetectChanges();
}

void TDataFile::EndWrite() {
    if (!m_WritePhase) return;
    m_WritePhase = false;
    bool ok = true;
    if (TBlobFile* blob = BlobFile()) ok = blob->ReleaseWriteLock();
    ok = m_Index->ReleaseWriteLock() && ok;
    if (m_DataWriteLocked) ok = UnlockRange(kTableWriteLockOffset, 1) && ok;
    m_DataWriteLocked = false;
    if (!ok) Raise(ecLockFailure);
}

void TDataFile::LockRecord(int32_t n) {
    if (n == 0) {
        if (!m_Current) Raise(ecRecordInUse);
        n = m_Current->PhysicalNo;
    }
    if (LocksDisabled()) return;
    if (!m_StrictChangeDetection) BeginRead();
    if (std::find(m_LockedRecords.begin(), m_LockedRecords.end(), n) != m_LockedRecords.end()) return;
    bool locked = RetryLock([&] { return LockRange(kRecordLockBase - n, 1); }, m_LockRetryCount,
                            m_LockWaitTime);
    if (!locked) Raise(ecRecordInUse);
    m_LockedRecords.push_back(n);
}

void TDataFile::UnlockRecord(int32_t n) {
    if (n == 0) {
        if (!m_Current) Raise(ecCannotUnlock);
        n = m_Current->PhysicalNo;
    }
    if (LocksDisabled()) return;
    auto it = std::find(m_LockedRecords.begin(), m_LockedRecords.end(), n);
    if (it == m_LockedRecords.end()) return;
    m_LockedRecords.erase(it);
    if (!UnlockRange(kRecordLockBase - n, 1)) Raise(ecCannotUnlock);
}

void TDataFile::UnlockAllRecords() {
    bool ok = true;
    while (!m_LockedRecords.empty()) {
        int32_t n = m_LockedRecords.back();
        m_LockedRecords.pop_back();
        if (!LocksDisabled()) ok = UnlockRange(kRecordLockBase - n, 1) && ok;
    }
    if (!ok) Raise(ecCannotUnlock);
}

void TDataFile::ForgetCachedState(bool blobChanged) {
    m_Index->InvalidatePages();
    DiscardBuffers();
    if (blobChanged) {
        if (TBlobFile* blob = BlobFile()) blob->DiscardBlocks();
    }
}

// The counters are compared index first: every change that moves records
// rewrites the index header, so it is the cheapest reliable witness. Only the
// data header is forced on every write; the BLOB counter catches changes to
// BLOB contents alone.
bool TDataFile::DetectChanges() {
    TBlobFile* blob = BlobFieldCount() != 0 ? BlobFile() : nullptr;
    bool indexChanged = m_Index->HeaderChanged();
    bool dataChanged = !indexChanged && HeaderChanged();
    if (indexChanged || dataChanged) {
        TIndexFile::TCursorMemo memo = m_Index->SaveCursor();
        if (indexChanged) RereadHeader();
        if (blob) blob->HeaderChanged();
        // A BLOB rewritten in place (same blocks, same free chain) leaves the
        // BLOB header, and so its counter, untouched: any change of the
        // table may have changed cached blocks.
        ForgetCachedState(blob != nullptr);
        m_Index->RestoreCursor(memo);
        return true;
    }
    if (blob && blob->HeaderChanged()) {
        blob->DiscardBlocks();
        return true;
    }
    return false;
}

bool TDataFile::ChangedOnDisk() {
    if (!m_Active || Exclusive()) return false;
    auto differs = [](TFileHandler& file, int32_t known) {
        uint8_t counter[4] = {0, 0, 0, 0};
        return file.ReadAt(0, counter, 4, true) != 4 || GetI32(counter) != known;
    };
    if (differs(*m_Index, m_Index->ChangeCount()) || differs(*this, ChangeCount())) return true;
    TBlobFile* blob = BlobFieldCount() != 0 ? BlobFile() : nullptr;
    return blob && differs(*blob, blob->ChangeCount());
}

}  // namespace veltra
