// An owning list that keeps insertion order, hands out element addresses that
// stay valid until the element is removed, and also chains the elements of
// each freq number so that "first element with this freq" costs nothing
// however long the list is. Searches by freq see the elements in list order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

template <class T> class FreqChainedList {
  public:
    uint32_t count() const { return count_; }
    T* first() { return at(first_); }
    T* next(const T* element) { return at(nodeOf(element)->next); }
    T* firstWithFreq(uint16_t freq) { return freqFirst_ ? at(freqFirst_[freq]) : nullptr; }
    T* nextWithFreq(const T* element) { return at(nodeOf(element)->nextSameFreq); }

    T& append(const T& value) {
        if (freeHead_ == none) grow();
        if (!freqFirst_) {
            freqFirst_ = std::make_unique<uint32_t[]>(freqCount);
            freqLast_ = std::make_unique<uint32_t[]>(freqCount);
            std::fill_n(freqFirst_.get(), freqCount, none);
            std::fill_n(freqLast_.get(), freqCount, none);
        }
        uint32_t index = freeHead_;
        Node& node = nodeAt(index);
        freeHead_ = node.next;
        node.value = value;
        node.live = true;
        node.prev = last_;
        node.next = none;
        if (last_ != none)
            nodeAt(last_).next = index;
        else
            first_ = index;
        last_ = index;
        uint16_t freq = value.freq;
        node.prevSameFreq = freqLast_[freq];
        node.nextSameFreq = none;
        if (freqLast_[freq] != none)
            nodeAt(freqLast_[freq]).nextSameFreq = index;
        else
            freqFirst_[freq] = index;
        freqLast_[freq] = index;
        ++count_;
        return node.value;
    }

    // Removes the element that is this very object; anything else is ignored.
    void remove(const T* element) {
        uint32_t index = indexOf(element);
        if (index == none) return;
        Node& node = nodeAt(index);
        if (node.prev != none)
            nodeAt(node.prev).next = node.next;
        else
            first_ = node.next;
        if (node.next != none)
            nodeAt(node.next).prev = node.prev;
        else
            last_ = node.prev;
        uint16_t freq = node.value.freq;
        if (node.prevSameFreq != none)
            nodeAt(node.prevSameFreq).nextSameFreq = node.nextSameFreq;
        else
            freqFirst_[freq] = node.nextSameFreq;
        if (node.nextSameFreq != none)
            nodeAt(node.nextSameFreq).prevSameFreq = node.prevSameFreq;
        else
            freqLast_[freq] = node.prevSameFreq;
        node.live = false;
        node.next = freeHead_;
        freeHead_ = index;
        --count_;
    }

    void clear() {
        chunks_.clear();
        freqFirst_.reset();
        freqLast_.reset();
        freeHead_ = first_ = last_ = none;
        count_ = 0;
    }

  private:
    static constexpr uint32_t none = 0xFFFFFFFFu;
    static constexpr uint32_t chunkSize = 256;
    static constexpr uint32_t freqCount = 65536;

    // The element comes first so that its address is the node's.
    struct Node {
        T value;
        uint32_t prev, next, prevSameFreq, nextSameFreq;
        bool live;
    };

    std::vector<std::unique_ptr<Node[]>> chunks_;
    std::unique_ptr<uint32_t[]> freqFirst_, freqLast_;
    uint32_t freeHead_ = none, first_ = none, last_ = none, count_ = 0;

    Node& nodeAt(uint32_t index) { return chunks_[index / chunkSize][index % chunkSize]; }
    T* at(uint32_t index) { return index == none ? nullptr : &nodeAt(index).value; }
    static Node* nodeOf(const T* element) {
        return reinterpret_cast<Node*>(const_cast<T*>(element));
    }

    void grow() {
        uint32_t base = static_cast<uint32_t>(chunks_.size()) * chunkSize;
        // Not cleared: a node is written in full when it is appended, and
        // only live and next are read before that.
        chunks_.push_back(std::make_unique_for_overwrite<Node[]>(chunkSize));
        Node* chunk = chunks_.back().get();
        for (uint32_t i = 0; i < chunkSize; ++i) {
            chunk[i].live = false;
            chunk[i].next = i + 1 < chunkSize ? base + i + 1 : freeHead_;
        }
        freeHead_ = base;
    }

    // The index of a live node at exactly this address, or none.
    uint32_t indexOf(const T* element) const {
        std::less<const void*> before;
        for (size_t c = 0; c < chunks_.size(); ++c) {
            const Node* begin = chunks_[c].get();
            const Node* end = begin + chunkSize;
            const void* p = element;
            if (before(p, begin) || !before(p, end)) continue;
            size_t offset = reinterpret_cast<const char*>(p) - reinterpret_cast<const char*>(begin);
            if (offset % sizeof(Node) != 0 || !begin[offset / sizeof(Node)].live) return none;
            return static_cast<uint32_t>(c * chunkSize + offset / sizeof(Node));
        }
        return none;
    }
};
