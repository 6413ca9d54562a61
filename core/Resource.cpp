#include "core/Resource.h"

Resource::Resource() : activities_(std::make_unique<ActivityRegistry>()) {}

Resource::~Resource() = default;

ActivityRegistry& Resource::getActivities() {
    return *activities_;
}
