# quelvan hook script: the site's place to rewrite texts and to decide
# regular-expression filter matches. This one changes nothing.

# Called with each host's plugin output; returns the text to show.
# The result is never longer than the text passed in.
sub host_plugin_hook {
    my ($text) = @_;
    return $text;
}

# Called with each service's display name ("host description") and with each
# service's plugin output; returns the text to show.
sub service_plugin_hook {
    my ($text) = @_;
    return $text;
}

# Called for each candidate item while a regex filter is on.
#   $text:    "host output" or "host host description output"
#   $pattern: the filter as typed, without slashes
#   $mode:    0 - answer true when $text does NOT match (positive filter)
#             1 - answer true when $text matches (negative filter)
# A true answer leaves the item out. A pattern Perl cannot compile shows the
# item and clears $@, so a typo at the filter prompt does not end the console.
sub regex_hook {
    my ($text, $pattern, $mode) = @_;
    # One match per mode: each keeps its pattern compiled from call to call,
    # so with both filters on the two patterns are not compiled on every call.
    my $match = eval { $mode == 0 ? $text =~ /$pattern/ : $text =~ /$pattern/ };
    if ($@) {
        $@ = '';
        return 0;
    }
    return $mode == 0 ? ($match ? 0 : 1) : ($match ? 1 : 0);
}

1;
