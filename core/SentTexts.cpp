#include "core/SentTexts.h"

bool SentTexts::contains(const void* text) const {
    const std::lock_guard<std::mutex> hold(lock_);
    return text != nullptr && texts_.count(text) > 0;
}

SentTexts::Loan::Loan(SentTexts& texts, const void* text) : texts_(texts), text_(text) {
    const std::lock_guard<std::mutex> hold(texts_.lock_);
    texts_.texts_.insert(text_);
}

SentTexts::Loan::~Loan() {
    const std::lock_guard<std::mutex> hold(texts_.lock_);
    texts_.texts_.erase(texts_.texts_.find(text_));
}

SentTexts& sentTexts() {
    static SentTexts texts;
    return texts;
}
