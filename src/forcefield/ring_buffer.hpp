// A window of the most recent values, of fixed capacity; pushing into a full
// window drops its oldest value. A window of capacity 0 keeps only the
// newest. Storage grows with the values pushed, so a huge capacity costs
// only what is used.
#pragma once

#include <cstddef>
#include <vector>

namespace zelt::forcefield {

class RingBuffer {
public:
    explicit RingBuffer(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

    void push(double x) {
        if (data_.size() < capacity_) {
            data_.push_back(x);
            return;
        }
        data_[head_] = x;
        head_ = (head_ + 1) % capacity_;
    }

    std::size_t size() const { return data_.size(); }
    bool empty() const { return data_.empty(); }
    double newest() const { return data_[(head_ + data_.size() - 1) % data_.size()]; }

    // Oldest to newest.
    double sum() const {
        double s = 0.0;
        for (std::size_t k = 0; k < data_.size(); ++k) s += data_[(head_ + k) % data_.size()];
        return s;
    }

private:
    std::size_t capacity_;
    std::vector<double> data_;
    std::size_t head_ = 0;  // oldest entry once the window is full
};

}  // namespace zelt::forcefield
