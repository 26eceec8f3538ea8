#include "gui/common/tab_page.h"

namespace lyr {

void CKVBTabPage::AddRecordings(const std::vector<uint32_t>& /*entries*/) {}

}  // namespace lyr
