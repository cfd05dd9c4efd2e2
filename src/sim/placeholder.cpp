namespace bms::sim {
int placeholder = 0;
}
