#include "monitor/TSeenList.h"

#include <algorithm>
#include <bit>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "common/SafeFile.h"
#include "common/TextCase.h"
#include "common/Win1252.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace quelvo {

namespace {

constexpr int kOffsetBits = 40;
constexpr uint64_t kOffsetMask = (uint64_t{1} << kOffsetBits) - 1;

uint64_t Fingerprint(size_t hash) {
    return static_cast<uint64_t>(hash) >> kOffsetBits;
}

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Large tables are spread over many pages; huge pages spare a lookup the page-table walks.
template <typename T>
void AdviseHugePages(const std::vector<T>& v) {
    constexpr uintptr_t kHuge = 2 << 20;
    const auto begin = reinterpret_cast<uintptr_t>(v.data());
    const uintptr_t end = begin + v.capacity() * sizeof(T);
    const uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    if (end > first + kHuge) {
        platform::AdviseHugePages(reinterpret_cast<void*>(first), (end - first) & ~(kHuge - 1));
    }
}

}  // namespace

std::string_view TSeenList::EntryAt(uint64_t offset) const {
    size_t length = 0;
    int shift = 0;
    for (;;) {
        const auto b = static_cast<unsigned char>(text_[offset++]);
        length |= static_cast<size_t>(b & 0x7F) << shift;
        if (b < 0x80) {
            break;
        }
        shift += 7;
    }
    return std::string_view(text_).substr(offset, length);
}

template <typename F>
void TSeenList::ForEachLocked(F&& f) const {
    uint64_t offset = 0;
    while (offset < text_.size()) {
        const std::string_view entry = EntryAt(offset);
        f(entry);
        offset = static_cast<uint64_t>(entry.data() + entry.size() - text_.data());
    }
}

void TSeenList::ResetLocked() {
    ++version_;
    std::string().swap(text_);
    std::vector<uint64_t>().swap(slots_);
    count_ = 0;
}

// Puts the entry at `offset` in the table unless an equal entry is there already (the first of
// equal entries is the one found).
void TSeenList::IndexLocked(uint64_t offset, std::string_view entry, size_t hash) {
    const size_t mask = slots_.size() - 1;
    const uint64_t fp = Fingerprint(hash);
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const uint64_t value = slots_[slot];
        if (value == 0) {
            slots_[slot] = (fp << kOffsetBits) | (offset + 1);
            return;
        }
        if ((value >> kOffsetBits) == fp &&
            SameTextIgnoringCase(EntryAt((value & kOffsetMask) - 1), entry)) {
            return;
        }
    }
}

bool TSeenList::ContainsLocked(std::string_view entry, size_t hash) const {
    if (slots_.empty()) {
        return false;
    }
    const size_t mask = slots_.size() - 1;
    const uint64_t fp = Fingerprint(hash);
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const uint64_t value = slots_[slot];
        if (value == 0) {
            return false;
        }
        if ((value >> kOffsetBits) == fp &&
            SameTextIgnoringCase(EntryAt((value & kOffsetMask) - 1), entry)) {
            return true;
        }
    }
}

void TSeenList::RehashLocked(size_t capacity) {
    std::vector<uint64_t>(capacity, 0).swap(slots_);
    AdviseHugePages(slots_);
    uint64_t offset = 0;
    while (offset < text_.size()) {
        const std::string_view entry = EntryAt(offset);
        IndexLocked(offset, entry, HashIgnoringCase(entry));
        offset = static_cast<uint64_t>(entry.data() + entry.size() - text_.data());
    }
}

void TSeenList::AddLocked(std::string_view entry) {
    const uint64_t offset = text_.size();
    if (offset + entry.size() + 10 >= kOffsetMask) {
        throw std::length_error("seen-list full");
    }
    // Keep the table at most half full.
    if ((count_ + 1) * 2 > slots_.size()) {
        RehashLocked(std::max<size_t>(16, slots_.size() * 2));
    }
    size_t length = entry.size();
    do {
        const auto low = static_cast<unsigned char>(length & 0x7F);
        length >>= 7;
        text_ += static_cast<char>(length ? (low | 0x80) : low);
    } while (length);
    text_.append(entry);
    ++count_;
    ++version_;
    IndexLocked(offset, entry, HashIgnoringCase(entry));
}

void TSeenList::Add(std::string_view entry) {
    std::lock_guard lock(mutex_);
    AddLocked(entry);
}

bool TSeenList::Contains(std::string_view entry) const {
    const size_t hash = HashIgnoringCase(entry);  // outside the lock
    std::lock_guard lock(mutex_);
    return ContainsLocked(entry, hash);
}

size_t TSeenList::Count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

uint64_t TSeenList::Version() const {
    std::lock_guard lock(mutex_);
    return version_;
}

std::vector<std::string> TSeenList::Entries() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    out.reserve(count_);
    ForEachLocked([&](std::string_view e) { out.emplace_back(e); });
    return out;
}

void TSeenList::Clear() {
    std::lock_guard lock(mutex_);
    ResetLocked();
}

void TSeenList::LoadFromFile(const std::string& path) {
    std::string bytes = ReadWholeFile(path);
    if (!IsAscii(bytes)) {
        bytes = Win1252ToUtf8(bytes);
    }
    // Count the lines first so that the buffers are sized once.
    size_t lines = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        lines += bytes[i] == '\n' ||
                 (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'));
    }
    std::lock_guard lock(mutex_);
    ResetLocked();
    text_.reserve(bytes.size() + lines);
    RehashLocked(std::bit_ceil(std::max<size_t>(16, (lines + 1) * 2)));
    const std::string_view all(bytes);
    size_t start = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i] == '\r' || all[i] == '\n') {
            AddLocked(all.substr(start, i - start));
            if (all[i] == '\r' && i + 1 < all.size() && all[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    // What follows the last line break was cut short by a crash during an append: a part of a
    // key could pass for another key.
}

bool TSeenList::AddAndAppend(std::string_view entry, const std::string& path) {
    std::lock_guard saving(saveMutex_);
    {
        std::lock_guard lock(mutex_);
        if (ContainsLocked(entry, HashIgnoringCase(entry))) {
            return false;
        }
        AddLocked(entry);
    }
    std::string line(entry);
    if (!IsAscii(line)) {
        line = Utf8ToWin1252(line);
    }
    line += "\r\n";
    AppendToFile(path, line, 0600);
    ++appends_;
    return true;
}

void TSeenList::ClearAndRemoveFile(const std::string& path) {
    std::lock_guard saving(saveMutex_);
    Clear();
    {
        // Whatever was appended goes with the file: nothing is left to flush.
        std::lock_guard lock(syncMutex_);
        synced_ = appends_.load();
    }
    std::error_code ec;
    std::filesystem::remove(platform::PathOf(path), ec);
    if (ec) {
        throw std::system_error(ec, path);
    }
}

void TSeenList::SyncAppends(const std::string& path) {
    std::lock_guard lock(syncMutex_);
    const uint64_t written = appends_.load();
    if (written == synced_) {
        return;
    }
    try {
        SyncFile(path);
    } catch (const std::system_error& e) {
        // A file removed since ("Limpar Temp") holds nothing left to flush.
        if (e.code() != std::errc::no_such_file_or_directory) {
            throw;
        }
    }
    synced_ = written;
}

void TSeenList::SaveToFile(const std::string& path) const {
    std::lock_guard saving(saveMutex_);
    // Every append so far is in this save (appends wait for it).
    const uint64_t written = appends_.load();
    std::string out;
    {
        std::lock_guard lock(mutex_);
        out.reserve(text_.size() + 2 * count_);
        ForEachLocked([&](std::string_view e) {
            out.append(e);
            out.append("\r\n");
        });
    }
    if (!IsAscii(out)) {
        out = Utf8ToWin1252(out);
    }
    WriteFileAtomic(path, out, 0600);
    std::lock_guard lock(syncMutex_);
    synced_ = std::max(synced_, written);
}

size_t TSeenList::OverheadBytes() const {
    std::lock_guard lock(mutex_);
    size_t textBytes = 0;
    ForEachLocked([&](std::string_view e) { textBytes += e.size(); });
    return (text_.capacity() - textBytes) + slots_.capacity() * sizeof(uint64_t) + sizeof(*this);
}

}  // namespace quelvo
