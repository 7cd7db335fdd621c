% 'Display' in Octave: what 'off', 'final' and 'iter' print (read with evalc),
% a line at most every second while a long call runs, each line the state at
% its iteration, and no result bit changed by printing.
function gateway_display_test ()
  args = {[1;1], [2 0; 0 4], [1;0], 1, eye(2), [0;0], 1, 2, 10};
  [x, r, info] = Brelvane (args{:});
  final = ['^Brelvane: stationary after 3 of 10 iterations \(the last changed nothing, ' ...
           'bit for bit; the rest would repeat it\); R = 6\.339745962e-01, GRADIENT = 5\.551e-17, ' ...
           'residual = 8\.756e-17, \d+\.\d\d s\.$'];
  for level = {"off", "final", "FINAL", "iter", "Iter"}
    for scaling = {"none", "diagonal"}
      call = sprintf ("[xd, rd, id] = Brelvane (args{:}, 'Display', '%s', 'Scaling', '%s');", ...
                      level{1}, scaling{1});
      text = evalc (call);
      what = [level{1} ", " scaling{1}];
      assert_same_doubles (xd, x, ["x with Display " what]);
      assert_same_doubles (rd, r, ["r with Display " what]);
      lines = strsplit (text(1:end - 1), "\n");
      gradient = "max \\|dR/dx_j\\|";
      if (strcmp (scaling{1}, "diagonal"))
        gradient = "max \\|w_j dR/dx_j\\|";
      end
      switch (lower (level{1}))
        case "off"
          assert (text, "");
        case "final"
          assert (numel (lines), 1);
          assert (! isempty (regexp (lines{1}, strrep (final, "GRADIENT", gradient), "once")), lines{1});
        case "iter"
          assert (numel (lines), 3, text);
          assert (! isempty (regexp (lines{1}, ['^ +iteration +R +' gradient ' +seconds$'], "once")), lines{1});
          assert (! isempty (regexp (lines{2}, '^ +0 +2\.500000000e\+00 +7\.500e-01 +0\.\d\d$', "once")), lines{2});
          assert (! isempty (regexp (lines{3}, strrep (final, "GRADIENT", gradient), "once")), lines{3});
      end
    end
  end
  % Stops for a tolerance say which; checkpoints add the residual column.
  text = evalc ("Brelvane (args{1:8}, 1e6, 'Display', 'iter', 'Tolerance', 1e-6);");
  assert (! isempty (regexp (text, '^ +iteration +R +max \|dR/dx_j\| +residual +seconds\n +0 +2\.500000000e\+00 +7\.500e-01 +2\.222e-01 +0\.\d\d\nBrelvane: stopped after 2 of 1000000 iterations: residual <= Tolerance = 1e-06; ', "once")), text);
  text = evalc ("Brelvane (args{1:8}, 1e6, 'Display', 'final', 'GradientTolerance', 1e-12);");
  prefix = "Brelvane: stopped after 2 of 1000000 iterations: max |dR/dx_j| <= GradientTolerance = 1e-12; ";
  assert (strncmp (text, prefix, numel (prefix)), text);

  % A long call (D > 0 everywhere, so R is bounded and no step rises; with
  % linear terms it runs on without becoming stationary), sized to take
  % about 2.5 s here: after the start's line, one a second, never closer,
  % each the ratio r holds at its iteration and the residual there.
  rand ("seed", 3);
  n = 200;
  A = rand (n) - 0.5;  P = A + A';
  B = rand (n) - 0.5;  Q = B * B' + eye (n);
  c = rand (n, 1) - 0.5;  d = rand (n, 1) - 0.5;
  t = tic ();
  Brelvane (ones (n, 1), P, c, 1, Q, d, 10, n, 2e5);
  T = ceil (2e5 * 2.5 / max (toc (t), 1e-3));
  t = tic ();
  text = evalc ("[xd, rd, id] = Brelvane (ones (n, 1), P, c, 1, Q, d, 10, n, T, 'Display', 'iter', 'Tolerance', 1e-300);");
  elapsed = toc (t);
  [x, r] = Brelvane (ones (n, 1), P, c, 1, Q, d, 10, n, T);
  assert_same_doubles (xd, x, "x of the long call");
  assert_same_doubles (rd, r, "r of the long call");
  assert (id.stop, "iterations");
  lines = strsplit (text(1:end - 1), "\n");
  rows = cellfun (@(line) sscanf (line, "%f")', lines(2:end - 1), "UniformOutput", false);
  rows = vertcat (rows{:});
  assert (size (rows, 2), 5, text);
  assert (rows(1, 1), 0);
  assert (elapsed > 1.2 && size (rows, 1) >= 2, sprintf ("%.2f s\n%s", elapsed, text));
  assert (all (diff (rows(:, 5)) >= 0.99), text);
  assert (size (rows, 1) <= 1 + elapsed, text);
  assert (all (diff (rows(:, 1)) > 0) && rows(end, 1) < T, text);
  assert (abs (rows(:, 2) - r(rows(:, 1) + 1)) <= 1e-9 * abs (r(rows(:, 1) + 1)), text);
  assert (all (rows(:, 4) > 0 & rows(:, 4) < 1), text);
  assert (! isempty (regexp (lines{end}, sprintf ('^Brelvane: ran all %d iterations; ', T), "once")), lines{end});

  % Bad values, refused like the other options' before anything runs.
  good = {[1;2], eye(2), [0;0], 1, zeros(2), [0;0], 1, 2, 3};
  for bad = {"on", "", 1, true, {"iter"}, ["iter"; "off "], "iterations"}
    assert_brelvane_error ("Brelvane:badOption", 1, [good, {"Display", bad{1}}]);
  end
  assert_brelvane_error ("Brelvane:badOption", 1, [good, {"display"}]);
  message = "";
  try
    Brelvane (good{:}, "Display", "on");
  catch err
    message = err.message;
  end
  assert (message, "Brelvane: The value of option 'Display' must be 'off', 'iter', 'final', 'none' or 'notify', but is 'on'.");
  disp ("gateway display: all assertions passed");
end
