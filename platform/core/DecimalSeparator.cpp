#include "DecimalSeparator.h"

#include <clocale>

void SetDecimalSeparatorDot()
{
    std::setlocale(LC_NUMERIC, "C");
}

char DecimalSeparator()
{
    const std::lconv* conv = std::localeconv();
    return conv != nullptr && conv->decimal_point != nullptr && conv->decimal_point[0] != '\0'
               ? conv->decimal_point[0]
               : '.';
}
