#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quelvo {

// A seen-list: the invoice keys or query keys that earlier cycles handled. Entries keep the order
// in which they were added (the files list them so); a lookup matches the whole text without
// regard to letter case, in constant time. Duplicates are kept as added.
//
// Memory: the texts lie back to back in one buffer, each behind its length, with an open hash
// table beside them whose slots hold an entry's offset and a fingerprint of its hash. A lookup
// touches one slot and, on a fingerprint match, the entry's text: about 18 bytes per entry above
// its text, and at most two cache misses per lookup however long the list.
//
// Safe to share between threads: each call takes the list's lock for its own length.
class TSeenList {
public:
    TSeenList() = default;
    TSeenList(const TSeenList&) = delete;
    TSeenList& operator=(const TSeenList&) = delete;

    void Add(std::string_view entry);
    bool Contains(std::string_view entry) const;
    size_t Count() const;
    // Grows with every change (an addition, Clear, a load): equal values, no change between.
    uint64_t Version() const;
    std::vector<std::string> Entries() const;
    void Clear();
    // Empties the list and removes its file as one step against saves and appends, so that no
    // save in flight writes the old entries back. Raises std::system_error when the file exists
    // and cannot be removed (the list is emptied either way).
    void ClearAndRemoveFile(const std::string& path);

    // Adds the entry when it is absent and appends it, as one whole line, to the file (created
    // when missing): the record is on disk without a whole save. One writer at a time with
    // SaveToFile, so a save never loses an appended line. Returns whether it was added; raises
    // std::system_error when the file cannot be written (the entry stays in the list).
    bool AddAndAppend(std::string_view entry, const std::string& path);
    // Puts the lines appended to the file so far on the disk, one flush for all of them (nothing
    // to do when a whole save or another call has done it): before a request that counts on
    // them. Raises std::system_error when the flush fails.
    void SyncAppends(const std::string& path);

    // Replaces the entries with the lines of the file (CR LF, LF or CR; Windows-1252). A last
    // line without its line break is a write a crash cut short, and is left out.
    // Raises std::system_error when the file cannot be read.
    void LoadFromFile(const std::string& path);
    // Writes every entry followed by CR LF, in Windows-1252, replacing the file whole at once.
    // Raises std::system_error when the file cannot be written.
    void SaveToFile(const std::string& path) const;

    // Bytes held by the list beyond its entries' texts (for the benchmark).
    size_t OverheadBytes() const;

private:
    // Calls f(text) for every entry in order.
    template <typename F>
    void ForEachLocked(F&& f) const;
    std::string_view EntryAt(uint64_t offset) const;
    void AddLocked(std::string_view entry);
    bool ContainsLocked(std::string_view entry, size_t hash) const;
    void IndexLocked(uint64_t offset, std::string_view entry, size_t hash);
    void RehashLocked(size_t capacity);
    void ResetLocked();

    mutable std::mutex mutex_;
    mutable std::mutex saveMutex_;  // one save at a time, so the newest snapshot lands last
    std::string text_;              // each entry: its length (LEB128), then its bytes
    size_t count_ = 0;
    uint64_t version_ = 0;
    std::vector<uint64_t> slots_;  // fingerprint << 40 | (offset + 1); 0 for a free slot
    // Appends made, counted once each is written; and how many of them a flush (or a whole
    // save) has put on the disk. A caller that finds its append counted as flushed knows that
    // flush began after its write and has ended.
    std::atomic<uint64_t> appends_{0};
    mutable std::mutex syncMutex_;
    mutable uint64_t synced_ = 0;
};

}  // namespace quelvo
