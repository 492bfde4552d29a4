# scheduler-cron: the crontab engine at the command line. Included from tools/, whose
# settings put the binary in bin/ of the build tree, as it is installed.
find_package(ICU REQUIRED COMPONENTS uc i18n)
add_executable(scheduler-cron
    ${CMAKE_CURRENT_LIST_DIR}/main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Calendar.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Commands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CrontabItems.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Diagnosis.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Explain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TimeText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Zone.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZonedSearch.cpp
)
target_compile_definitions(scheduler-cron PRIVATE SCHEDULER_CRON_VERSION="${PROJECT_VERSION}")
target_link_libraries(scheduler-cron PRIVATE Zent::Crontab Zent::TimeScheduler ICU::uc ICU::i18n)
target_link_libraries(scheduler-cron PRIVATE CLI11::CLI11)
