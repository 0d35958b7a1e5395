"""End-to-end test harness: network namespaces, the program under Wine, peers on the Linux side."""
