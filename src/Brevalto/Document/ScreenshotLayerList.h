#pragma once

#include "Document/ScreenshotLayer.h"

#include <atomic>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace brevalto {

// The layers of a document, first at the bottom: a vector of ScreenshotLayer values whose
// elements are shared between copies. Copying a list copies one pointer per layer, so the
// editing session can keep fifty documents of hundreds of layers for undo at little cost; a
// layer is copied only when it is changed through a list that shares it (any non-const access
// to an element counts as a change). Behaves as std::vector<ScreenshotLayer> for everything the
// document code does with it; a shared layer is never written while another list can read it.
class ScreenshotLayerList {
    using Slot = std::shared_ptr<ScreenshotLayer>;
    using Slots = std::vector<Slot>;

    template <class Base, class Ref>
    class Iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = ScreenshotLayer;
        using difference_type = std::ptrdiff_t;
        using pointer = std::remove_reference_t<Ref>*;
        using reference = Ref;

        Iterator() = default;
        explicit Iterator(Base it) : it_(it) {}
        template <class B2, class R2>
        Iterator(const Iterator<B2, R2>& other) : it_(other.base()) {}

        Ref operator*() const { return ScreenshotLayerList::access<Ref>(*it_); }
        pointer operator->() const { return &**this; }
        Ref operator[](difference_type n) const { return *(*this + n); }
        Iterator& operator++() { return ++it_, *this; }
        Iterator operator++(int) { return Iterator(it_++); }
        Iterator& operator--() { return --it_, *this; }
        Iterator operator--(int) { return Iterator(it_--); }
        Iterator& operator+=(difference_type n) { return it_ += n, *this; }
        Iterator& operator-=(difference_type n) { return it_ -= n, *this; }
        friend Iterator operator+(Iterator a, difference_type n) { return a += n; }
        friend Iterator operator+(difference_type n, Iterator a) { return a += n; }
        friend Iterator operator-(Iterator a, difference_type n) { return a -= n; }
        friend difference_type operator-(const Iterator& a, const Iterator& b) { return a.it_ - b.it_; }
        friend bool operator==(const Iterator& a, const Iterator& b) { return a.it_ == b.it_; }
        friend auto operator<=>(const Iterator& a, const Iterator& b) { return a.it_ <=> b.it_; }
        Base base() const { return it_; }

    private:
        Base it_{};
    };

    // Read access shares; write access first gives the slot a layer of its own.
    template <class Ref>
    static Ref access(const Slot& slot) {
        if constexpr (std::is_const_v<std::remove_reference_t<Ref>>) {
            return *slot;
        } else {
            Slot& owned = const_cast<Slot&>(slot);
            if (owned.use_count() > 1) {
                owned = std::make_shared<ScreenshotLayer>(*owned);
            } else {
                // The last other owner (a background render, say) let go with a release; this
                // makes its reads happen before the writes that follow.
                std::atomic_thread_fence(std::memory_order_acquire);
            }
            return *owned;
        }
    }

public:
    using value_type = ScreenshotLayer;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = ScreenshotLayer&;
    using const_reference = const ScreenshotLayer&;
    using iterator = Iterator<Slots::iterator, ScreenshotLayer&>;
    using const_iterator = Iterator<Slots::const_iterator, const ScreenshotLayer&>;

    ScreenshotLayerList() = default;
    ScreenshotLayerList(std::initializer_list<ScreenshotLayer> layers) { assign(layers.begin(), layers.end()); }
    ScreenshotLayerList(const std::vector<ScreenshotLayer>& layers) { assign(layers.begin(), layers.end()); }
    ScreenshotLayerList& operator=(std::initializer_list<ScreenshotLayer> layers) {
        assign(layers.begin(), layers.end());
        return *this;
    }

    template <class It>
    void assign(It first, It last) {
        slots_.clear();
        for (; first != last; ++first) slots_.push_back(std::make_shared<ScreenshotLayer>(*first));
    }

    size_type size() const { return slots_.size(); }
    bool empty() const { return slots_.empty(); }
    void reserve(size_type n) { slots_.reserve(n); }
    void clear() { slots_.clear(); }

    const_reference operator[](size_type i) const { return *slots_[i]; }
    reference operator[](size_type i) { return access<reference>(slots_[i]); }
    const_reference front() const { return *slots_.front(); }
    reference front() { return access<reference>(slots_.front()); }
    const_reference back() const { return *slots_.back(); }
    reference back() { return access<reference>(slots_.back()); }

    const_iterator begin() const { return const_iterator(slots_.cbegin()); }
    const_iterator end() const { return const_iterator(slots_.cend()); }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }
    iterator begin() { return iterator(slots_.begin()); }
    iterator end() { return iterator(slots_.end()); }

    void push_back(ScreenshotLayer layer) { slots_.push_back(std::make_shared<ScreenshotLayer>(std::move(layer))); }
    template <class... Args>
    reference emplace_back(Args&&... args) {
        slots_.push_back(std::make_shared<ScreenshotLayer>(std::forward<Args>(args)...));
        return *slots_.back();
    }
    void pop_back() { slots_.pop_back(); }
    iterator insert(const_iterator at, ScreenshotLayer layer) {
        return iterator(slots_.insert(at.base(), std::make_shared<ScreenshotLayer>(std::move(layer))));
    }
    iterator insert(const_iterator at, std::initializer_list<ScreenshotLayer> layers) {
        Slots added;
        for (const auto& layer : layers) added.push_back(std::make_shared<ScreenshotLayer>(layer));
        return iterator(slots_.insert(at.base(), added.begin(), added.end()));
    }
    iterator erase(const_iterator at) { return iterator(slots_.erase(at.base())); }
    iterator erase(const_iterator first, const_iterator last) { return iterator(slots_.erase(first.base(), last.base())); }
    void resize(size_type n) {
        while (slots_.size() > n) slots_.pop_back();
        while (slots_.size() < n) slots_.push_back(std::make_shared<ScreenshotLayer>());
    }

    // Whether both lists hold the very same layer objects (so they are equal without a look at
    // the layers, NaN fields aside).
    bool sharesAllWith(const ScreenshotLayerList& other) const { return slots_ == other.slots_; }

    // Layer by layer, exactly as ScreenshotLayer compares (a NaN equals nothing).
    friend bool operator==(const ScreenshotLayerList& a, const ScreenshotLayerList& b) {
        if (a.slots_.size() != b.slots_.size()) return false;
        for (size_type i = 0; i < a.slots_.size(); ++i)
            if (!(*a.slots_[i] == *b.slots_[i])) return false;
        return true;
    }

private:
    Slots slots_;
};

}  // namespace brevalto
