#include "imaging/core/text_exception.h"

CTextException::CTextException(int code, const char* text)
    : code_(code), text_(text != nullptr ? text : "") {}

// Goes through the virtual getters, so a copy of a derived exception keeps what it reports.
CTextException::CTextException(const CTextException& other)
    : CObject(other), code_(other.GetErrorCode()), text_(other.GetErrorText()) {}
