#pragma once

#include <memory>

#include "platform/xml_document.h"

namespace platform::win32 {

// An MSXML 6 DOM document. Needs COM initialised on the calling thread.
std::unique_ptr<IXmlDocument> CreateMsxmlDocument();

}  // namespace platform::win32
