#pragma once

#include <memory>

#include "platform/xml_document.h"

namespace platform::headless {

// The XML DOM of the native build, over libxml2.
std::unique_ptr<IXmlDocument> CreateLibxml2Document();

}  // namespace platform::headless
