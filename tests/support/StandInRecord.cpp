#include "tests/support/StandInRecord.hpp"

#include <fstream>
#include <stdexcept>

namespace korvel::test {

std::vector<StandInRecord> StandInRecord::readAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> fields;
    // An unterminated tail is a field still being written.
    for (std::string field; std::getline(in, field, '\0') && !in.eof();)
        fields.push_back(field);
    size_t at = 0;
    const auto next = [&](const std::string& prefix) {
        const std::string& field = fields.at(at++);
        if (!field.starts_with(prefix))
            throw std::runtime_error("stand-in record: expected " + prefix + " but found " + field);
        return field.substr(prefix.size());
    };
    std::vector<StandInRecord> records;
    try {
        while (at < fields.size() && next("begin").empty()) {
            StandInRecord record;
            for (auto count = std::stoul(next("argc=")); count > 0; --count)
                record.arguments.push_back(next(""));
            record.pid = static_cast<pid_t>(std::stol(next("pid=")));
            record.workingDirectory = next("cwd=");
            for (std::string field = next(""); field != "end"; field = next("")) {
                if (field.find('=') == std::string::npos)
                    throw std::runtime_error("stand-in record: not a variable: " + field);
                record.environment[field.substr(0, field.find('='))] = field.substr(field.find('=') + 1);
            }
            records.push_back(std::move(record));
        }
    } catch (const std::out_of_range&) {
        // The fields ran out: the last record is still being written.
    }
    return records;
}

StandInRecord StandInRecord::readOne(const std::filesystem::path& file)
{
    auto records = readAll(file);
    if (records.size() != 1)
        throw std::runtime_error(
            "expected one stand-in record in " + file.string() + ", found " + std::to_string(records.size()));
    return std::move(records.front());
}

void StandInRecord::append(const std::filesystem::path& file, const StandInRecord& record)
{
    std::string bytes;
    const auto field = [&](const std::string& text) { bytes += text + '\0'; };
    field("begin");
    field("argc=" + std::to_string(record.arguments.size()));
    for (const auto& argument : record.arguments)
        field(argument);
    field("pid=" + std::to_string(record.pid));
    field("cwd=" + record.workingDirectory);
    for (const auto& [name, value] : record.environment)
        field(name + "=" + value);
    field("end");
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot append to " + file.string());
}

} // namespace korvel::test
