// A fixed-capacity window of the most recent values; pushing into a full
// window drops its oldest value. A window of capacity 0 keeps only the newest.
#pragma once

#include <cstddef>
#include <vector>

namespace zelt::forcefield {

class RingBuffer {
public:
    explicit RingBuffer(std::size_t capacity) : data_(capacity == 0 ? 1 : capacity) {}

    void push(double x) {
        data_[(head_ + size_) % data_.size()] = x;
        if (size_ < data_.size())
            ++size_;
        else
            head_ = (head_ + 1) % data_.size();
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    double newest() const { return data_[(head_ + size_ - 1) % data_.size()]; }

    // Oldest to newest.
    double sum() const {
        double s = 0.0;
        for (std::size_t k = 0; k < size_; ++k) s += data_[(head_ + k) % data_.size()];
        return s;
    }

private:
    std::vector<double> data_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace zelt::forcefield
