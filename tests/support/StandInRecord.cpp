#include "tests/support/StandInRecord.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace korvel::test {

namespace {

std::vector<std::string> fieldsOf(const std::string& bytes)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t end = bytes.find('\0'); end != std::string::npos; end = bytes.find('\0', start)) {
        fields.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return fields; // an unterminated tail is a field still being written
}

std::string valueAfter(const std::string& field, const std::string& prefix)
{
    if (field.compare(0, prefix.size(), prefix) != 0)
        throw std::runtime_error("stand-in record: expected " + prefix + " but found " + field);
    return field.substr(prefix.size());
}

// Reads one record starting at `next` ("begin" already checked); false when the record is incomplete.
bool readRecord(const std::vector<std::string>& fields, size_t& next, StandInRecord& record)
{
    auto take = [&](std::string& field) {
        if (next >= fields.size())
            return false;
        field = fields[next++];
        return true;
    };
    std::string field;
    if (!take(field))
        return false;
    const auto count = std::stoul(valueAfter(field, "argc="));
    for (unsigned long index = 0; index < count; ++index) {
        if (!take(field))
            return false;
        record.arguments.push_back(field);
    }
    if (!take(field))
        return false;
    record.pid = static_cast<pid_t>(std::stol(valueAfter(field, "pid=")));
    if (!take(field))
        return false;
    record.workingDirectory = valueAfter(field, "cwd=");
    while (take(field)) {
        if (field == "end")
            return true;
        const auto equals = field.find('=');
        if (equals == std::string::npos)
            throw std::runtime_error("stand-in record: not a variable: " + field);
        record.environment[field.substr(0, equals)] = field.substr(equals + 1);
    }
    return false;
}

} // namespace

std::vector<StandInRecord> StandInRecord::readAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const auto fields = fieldsOf(bytes.str());
    std::vector<StandInRecord> records;
    size_t next = 0;
    while (next < fields.size()) {
        if (fields[next++] != "begin")
            throw std::runtime_error("stand-in record: expected begin but found " + fields[next - 1]);
        StandInRecord record;
        if (!readRecord(fields, next, record))
            break;
        records.push_back(std::move(record));
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
    auto field = [&](const std::string& text) {
        bytes += text;
        bytes += '\0';
    };
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
