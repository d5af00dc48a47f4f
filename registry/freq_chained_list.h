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

// The last generation given to any list: a generation is never given twice,
// so two lists with the same one hold the same (both never changed: empty).
inline uint64_t lastListGeneration = 0;

template <class T> class FreqChainedList {
  public:
    uint32_t count() const { return count_; }
    // Renewed with every element added or removed, and by touch() from whoever
    // changes an element in place: the same number means the same list with
    // the same elements. Lookups and walks change nothing.
    uint64_t generation() const { return generation_; }
    void touch() { generation_ = ++lastListGeneration; }
    T* first() { return at(first_); }
    T* next(const T* element) { return at(nodeOf(element)->next); }
    T* firstWithFreq(uint16_t freq) {
        const FreqEnds* ends = endsIfAny(freq);
        return ends ? at(ends->first) : nullptr;
    }
    T* nextWithFreq(const T* element) { return at(nodeOf(element)->nextSameFreq); }

    T& append(const T& value) {
        touch();
        // Whatever may allocate comes before the first link is changed: an
        // allocation that fails must leave the list as it was, never an
        // element linked in but not counted.
        if (freeHead_ == none) grow();
        FreqEnds& ends = endsOf(value.freq);
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
        node.prevSameFreq = ends.last;
        node.nextSameFreq = none;
        if (ends.last != none)
            nodeAt(ends.last).nextSameFreq = index;
        else
            ends.first = index;
        ends.last = index;
        ++count_;
        return node.value;
    }

    // Removes the element that is this very object; anything else is ignored.
    void remove(const T* element) {
        touch();
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
        FreqEnds& ends = endsOf(node.value.freq);
        if (node.prevSameFreq != none)
            nodeAt(node.prevSameFreq).nextSameFreq = node.nextSameFreq;
        else
            ends.first = node.nextSameFreq;
        if (node.nextSameFreq != none)
            nodeAt(node.nextSameFreq).prevSameFreq = node.prevSameFreq;
        else
            ends.last = node.prevSameFreq;
        node.live = false;
        node.next = freeHead_;
        freeHead_ = index;
        --count_;
    }

    void clear() {
        touch();
        chunks_.clear();
        freqBlocks_.clear();
        freeHead_ = first_ = last_ = none;
        count_ = 0;
    }

  private:
    static constexpr uint32_t none = 0xFFFFFFFFu;
    static constexpr uint32_t chunkSize = 256;
    // The ends of each freq's chain, in blocks of 256 freqs made on first
    // use: a registry of a few freqs costs a few blocks, not a table of all
    // 65,536, and a new list costs nothing until its first element.
    static constexpr uint32_t freqBlockSize = 256;
    static constexpr uint32_t freqBlockCount = 65536 / freqBlockSize;

    // The element comes first so that its address is the node's.
    struct Node {
        T value;
        uint32_t prev, next, prevSameFreq, nextSameFreq;
        bool live;
    };
    struct FreqEnds {
        uint32_t first, last;
    };

    uint64_t generation_ = 0;
    std::vector<std::unique_ptr<Node[]>> chunks_;
    std::vector<std::unique_ptr<FreqEnds[]>> freqBlocks_;
    uint32_t freeHead_ = none, first_ = none, last_ = none, count_ = 0;

    Node& nodeAt(uint32_t index) { return chunks_[index / chunkSize][index % chunkSize]; }
    T* at(uint32_t index) { return index == none ? nullptr : &nodeAt(index).value; }
    const FreqEnds* endsIfAny(uint16_t freq) const {
        if (freqBlocks_.empty()) return nullptr;
        const FreqEnds* block = freqBlocks_[freq / freqBlockSize].get();
        return block ? &block[freq % freqBlockSize] : nullptr;
    }
    FreqEnds& endsOf(uint16_t freq) {
        if (freqBlocks_.empty()) freqBlocks_.resize(freqBlockCount);
        std::unique_ptr<FreqEnds[]>& block = freqBlocks_[freq / freqBlockSize];
        if (!block) {
            block = std::make_unique_for_overwrite<FreqEnds[]>(freqBlockSize);
            std::fill_n(block.get(), freqBlockSize, FreqEnds{none, none});
        }
        return block[freq % freqBlockSize];
    }
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
