// Shared and exclusive borrow flags of the Python objects. A method that
// changes an object holds it exclusively for the call; a method that reads it
// (or receives it as an argument) shares it. Conflicts raise RuntimeError.
#pragma once

#include <stdexcept>

namespace zelt::py_api {

class BorrowFlag {
public:
    bool shared() const { return state_ > 0; }
    bool exclusive() const { return state_ < 0; }

private:
    friend class SharedBorrow;
    friend class ExclusiveBorrow;
    int state_ = 0;  // > 0: number of shared borrows; -1: held exclusively
};

class SharedBorrow {
public:
    explicit SharedBorrow(BorrowFlag& f) : f_(f) {
        if (f_.state_ < 0) throw std::runtime_error("Already mutably borrowed");
        ++f_.state_;
    }
    ~SharedBorrow() { --f_.state_; }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;

private:
    BorrowFlag& f_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(BorrowFlag& f) : f_(f) {
        if (f_.state_ != 0) throw std::runtime_error("Already borrowed");
        f_.state_ = -1;
    }
    ~ExclusiveBorrow() { f_.state_ = 0; }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;

private:
    BorrowFlag& f_;
};

}  // namespace zelt::py_api
