#include "control/RuntimeError.h"

#include <new>
#include <stdexcept>

namespace kadroo {

Text DescriptionOf(int32_t number) {
  switch (number) {
    case 5: return u"Invalid procedure call or argument";
    case 6: return u"Overflow";
    case 7: return u"Out of memory";
    case 9: return u"Subscript out of range";
    case 13: return u"Type mismatch";
    case 53: return u"File not found";
    case 70: return u"Permission denied";
    case 75: return u"Path/File access error";
    case 76: return u"Path not found";
    default: return u"Application-defined or object-defined error";
  }
}

RuntimeError ToRuntimeError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const RuntimeError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return RuntimeError(ErrorNumber::kOutOfMemory);
  } catch (const std::length_error&) {
    return RuntimeError(ErrorNumber::kOutOfMemory);
  } catch (const std::out_of_range&) {
    return RuntimeError(ErrorNumber::kSubscriptOutOfRange);
  } catch (const std::overflow_error&) {
    return RuntimeError(ErrorNumber::kOverflow);
  } catch (...) {
    return RuntimeError(ErrorNumber::kInvalidProcedureCall);
  }
}

}  // namespace kadroo
