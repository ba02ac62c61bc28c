#include "app/platform/fake/FakeTrash.hpp"

#include <stdexcept>

namespace korvel {

QCoro::Task<> FakeTrash::moveToTrash(std::filesystem::path item)
{
    if (failure)
        throw std::runtime_error(*failure);
    std::filesystem::remove_all(item);
    trashed.push_back(item);
    co_return;
}

} // namespace korvel
