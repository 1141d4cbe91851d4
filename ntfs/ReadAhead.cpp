#include "ReadAhead.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace vestrel::ntfs {
namespace {

class ReadAheadSource final : public Source {
public:
    ReadAheadSource(std::unique_ptr<Source> inner, size_t blockBytes, unsigned depth, std::unique_ptr<Source> helper)
        : Source(inner->path()),
          inner_(std::move(inner)),
          helper_(std::move(helper)),
          size_(inner_->size()),
          block_(std::max<size_t>(blockBytes, 1)),
          depth_(depth),
          worker_([this] { Work(); }) {}
    ~ReadAheadSource() override {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }

    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (count == 0 || offset >= size_ || count > size_ - offset) return Direct(offset, buffer, count);
        const uint64_t first = offset / block_, last = (offset + count - 1) / block_;
        char* out = static_cast<char*>(buffer);
        for (uint64_t index = first; index <= last; ++index) {
            const std::shared_ptr<Block> b = Get(index);
            if (!b->ok) return Direct(offset, buffer, count);
            const uint64_t start = index * block_;
            const uint64_t from = std::max<uint64_t>(offset, start);
            const uint64_t to = std::min<uint64_t>(offset + count, start + b->size);
            std::memcpy(out + (from - offset), b->bytes.get() + (from - start), size_t(to - from));
        }
        Ahead(first, last);
        return true;
    }
    uint64_t size() const override { return size_; }
    std::string Describe() const override { return inner_->Describe(); }
    SourceKind kind() const override { return inner_->kind(); }

private:
    struct Block {
        bool ready = false, ok = false;
        std::unique_ptr<char[]> bytes;  // not cleared first: every byte is read into
        size_t size = 0;
    };

    bool Direct(uint64_t offset, void* buffer, size_t count) const {
        std::lock_guard<std::mutex> hold(innerLock_);
        return inner_->ReadAt(offset, buffer, count);
    }

    // Reads block `index` into `b` (not holding lock_), then publishes it.
    // The worker reads through its own helper where there is one.
    void Fill(uint64_t index, const std::shared_ptr<Block>& b, bool worker = false) const {
        const uint64_t start = index * block_;
        const size_t size = size_t(std::min<uint64_t>(block_, size_ - start));
        std::unique_ptr<char[]> bytes(new char[size]);
        const bool ok = worker && helper_ != nullptr ? helper_->ReadAt(start, bytes.get(), size)
                                                     : Direct(start, bytes.get(), size);
        std::lock_guard<std::mutex> hold(lock_);
        b->bytes = std::move(bytes);
        b->size = size;
        b->ok = ok;
        b->ready = true;
        filled_.notify_all();
    }

    // The block, read here if nobody has it or is reading it.
    std::shared_ptr<Block> Get(uint64_t index) const {
        std::unique_lock<std::mutex> hold(lock_);
        auto it = blocks_.find(index);
        if (it != blocks_.end()) {
            const std::shared_ptr<Block> b = it->second;
            // With a helper the worker does not hold the inner source: rather
            // than wait for it, this thread reads the next wanted block.
            while (!b->ready && helper_ != nullptr && !wanted_.empty()) {
                const uint64_t next = wanted_.front();
                wanted_.pop_front();
                if (blocks_.count(next) != 0) continue;
                const std::shared_ptr<Block> taken = Insert(next);
                hold.unlock();
                Fill(next, taken);
                hold.lock();
            }
            filled_.wait(hold, [&] { return b->ready; });
            return b;
        }
        const std::shared_ptr<Block> b = Insert(index);
        hold.unlock();
        Fill(index, b);
        return b;
    }

    // A new, unfilled entry; the oldest filled ones go beyond the bound.
    std::shared_ptr<Block> Insert(uint64_t index) const {
        const std::shared_ptr<Block> b = std::make_shared<Block>();
        blocks_[index] = b;
        order_.push_back(index);
        for (size_t tries = order_.size(); blocks_.size() > depth_ + 2 && tries > 0; --tries) {
            const uint64_t oldest = order_.front();
            order_.pop_front();
            const auto old = blocks_.find(oldest);
            if (old == blocks_.end()) continue;
            if (old->second->ready) {
                blocks_.erase(old);
            } else {
                order_.push_back(oldest);  // still being read: held by its reader
            }
        }
        return b;
    }

    // After a read of blocks [first, last]: when reads come in order, the
    // next blocks are wanted; a jump elsewhere drops what was wanted.
    void Ahead(uint64_t first, uint64_t last) const {
        std::lock_guard<std::mutex> hold(lock_);
        const bool inOrder = haveLast_ && (first == lastBlock_ || first == lastBlock_ + 1);
        haveLast_ = true;
        lastBlock_ = last;
        wanted_.clear();
        if (!inOrder || depth_ == 0) return;
        for (uint64_t next = last + 1; next <= last + depth_ && next * block_ < size_; ++next)
            if (blocks_.count(next) == 0) wanted_.push_back(next);
        if (!wanted_.empty()) wake_.notify_one();
    }

    void Work() const {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            wake_.wait(hold, [&] { return stop_ || !wanted_.empty(); });
            if (stop_) return;
            const uint64_t index = wanted_.front();
            wanted_.pop_front();
            if (blocks_.count(index) != 0) continue;
            const std::shared_ptr<Block> b = Insert(index);
            hold.unlock();
            Fill(index, b, true);
            hold.lock();
        }
    }

    const std::unique_ptr<Source> inner_;
    const std::unique_ptr<Source> helper_;  // the same content opened again, the worker's alone
    const uint64_t size_;
    const size_t block_;
    const unsigned depth_;
    mutable std::mutex innerLock_;  // the inner source is not shared between threads
    mutable std::mutex lock_;       // everything below
    mutable std::condition_variable wake_, filled_;
    mutable std::map<uint64_t, std::shared_ptr<Block>> blocks_;
    mutable std::deque<uint64_t> order_, wanted_;
    mutable bool haveLast_ = false, stop_ = false;
    mutable uint64_t lastBlock_ = 0;
    std::thread worker_;  // last: starts once everything above exists
};

}  // namespace

std::unique_ptr<Source> WithReadAhead(std::unique_ptr<Source> inner, size_t blockBytes, unsigned depth,
                                      std::unique_ptr<Source> helper) {
    if (inner == nullptr) return inner;
    return std::make_unique<ReadAheadSource>(std::move(inner), blockBytes, depth, std::move(helper));
}

}  // namespace vestrel::ntfs
