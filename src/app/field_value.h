#pragma once
// Reading a text box as a number, the one way the window's procedures do it.

#include <QLineEdit>
#include <cmath>

#include "common/number_text.h"

namespace quarvel {

// NaN for a text that is not a number, which every caller's arithmetic or encoder refuses.
inline double valueOf(const QLineEdit* field) {
    return parseNumber(field->text()).value_or(std::nan(""));
}

}  // namespace quarvel
