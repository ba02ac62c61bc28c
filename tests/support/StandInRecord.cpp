#include "tests/support/StandInRecord.hpp"

#include <fstream>
#include <optional>
#include <stdexcept>

namespace korvel::test {

namespace {

// The record whose "begin" field came just before fields[at]; nothing while it is still being written.
std::optional<StandInRecord> recordAt(const std::vector<std::string>& fields, size_t& at)
{
    const auto value = [&](const std::string& prefix) {
        const std::string& field = fields.at(at++);
        if (field.rfind(prefix, 0) != 0)
            throw std::runtime_error("stand-in record: expected " + prefix + " but found " + field);
        return field.substr(prefix.size());
    };
    try {
        StandInRecord record;
        for (auto count = std::stoul(value("argc=")); count > 0; --count)
            record.arguments.push_back(fields.at(at++));
        record.pid = static_cast<pid_t>(std::stol(value("pid=")));
        record.workingDirectory = value("cwd=");
        for (std::string field = fields.at(at++); field != "end"; field = fields.at(at++)) {
            const auto equals = field.find('=');
            if (equals == std::string::npos)
                throw std::runtime_error("stand-in record: not a variable: " + field);
            record.environment[field.substr(0, equals)] = field.substr(equals + 1);
        }
        return record;
    } catch (const std::out_of_range&) {
        return std::nullopt; // the fields ran out
    }
}

} // namespace

std::vector<StandInRecord> StandInRecord::readAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> fields;
    // An unterminated tail is a field still being written.
    for (std::string field; std::getline(in, field, '\0') && !in.eof();)
        fields.push_back(field);
    std::vector<StandInRecord> records;
    for (size_t at = 0; at < fields.size();) {
        if (fields[at++] != "begin")
            throw std::runtime_error("stand-in record: expected begin but found " + fields[at - 1]);
        auto record = recordAt(fields, at);
        if (!record)
            break;
        records.push_back(std::move(*record));
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
