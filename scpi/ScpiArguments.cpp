#include "scpi/ScpiArguments.h"

#include <cstdlib>
#include <sstream>

namespace scpiarg {

std::string argumentWord(const std::string& command) {
    std::istringstream words(command);
    std::string header, argument;
    words >> header >> argument;
    return argument;
}

long long textInteger(const std::string& word) {
    return std::strtoll(word.c_str(), nullptr, 10);
}

float textFloat(const std::string& word) {
    return std::strtof(word.c_str(), nullptr);
}

long long streamInteger(const std::string& command) {
    std::istringstream words(command);
    std::string header;
    long long value = 0;
    words >> header;
    if (!(words >> value)) return 0;
    return value;
}

float streamFloat(const std::string& command) {
    std::istringstream words(command);
    std::string header;
    float value = 0.0f;
    words >> header;
    if (!(words >> value)) return 0.0f;
    return value;
}

int splitFields(const std::string& argument, std::string fields[], int maxFields) {
    std::istringstream in(argument);
    int count = 0;
    while (count < maxFields && std::getline(in, fields[count], ',')) ++count;
    return count;
}

}  // namespace scpiarg
