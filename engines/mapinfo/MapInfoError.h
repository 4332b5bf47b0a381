#pragma once
// The one error type of the embedded MapInfo runtime: a statement, an expression or a
// table file it rejects. what() is the message the automation caller receives.
#include <stdexcept>
#include <string>

namespace mapinfo {

class MapInfoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace mapinfo
