// diag/FFBaseComponent.h — common base of the system's components (the
// encoder, the probing components and the logger).
#pragma once

#include <string>

namespace tw {

/// Stands for the component base of the original framework: every component
/// carries an About text and a Version text, both empty unless a component
/// sets its Version.
class TFFBaseComponent {
  public:
    TFFBaseComponent() = default;
    virtual ~TFFBaseComponent() = default;
    TFFBaseComponent(const TFFBaseComponent&) = delete;
    TFFBaseComponent& operator=(const TFFBaseComponent&) = delete;

    std::string About;    // published, empty
    std::string Version;  // empty unless the component sets it
};

}  // namespace tw
