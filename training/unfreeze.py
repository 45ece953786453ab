#!/usr/bin/python3
"""Rebuilds a training checkpoint from an exported separator, so that a run can go on from a shipped
model whose own checkpoint is gone.

    unfreeze.py --model separator.pt --data DIR --run RUNDIR [--step N]
                [--shape width=16,depth=6,kernel=3,...: the network's shape, by default the shipped one]

Exporting freezes the network: the batch norm after each convolution is folded into it, and every
weight becomes a constant of the graph. Here the weights go back in the order the network runs its
layers. A folded batch norm comes back as the identity, its statistics those of its convolution's
output on crops of DIR's songs, so that it stays near the identity when training normalises by each
batch's own statistics. The rebuilt network answers what the exported one does on other crops (checked);
the optimiser's moments and the weight average start afresh, at step N.
"""

import argparse
import copy
import os
import sys

import numpy as np
import torch
from torch import nn

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from model import BINS, Separator, stft  # noqa: E402
from train import Batches, song_files  # noqa: E402


# The shipped model's shape (service/models/MODEL_CARD.md).
SHIPPED_SHAPE = "width=16,depth=6,kernel=3,max_channels=256,full_res=16,residual=5,across=4"


def network_shape(text):
    return {name: int(value) for name, value in (item.split("=") for item in text.split(","))}


def graph_constants(frozen):
    """The frozen graph's weights: conv2d (weight, bias) and batch_norm (weight, bias, mean, var) in the
    order they run, and the input scale and shift."""
    convs, norms, scale, shift = [], [], None, None

    def constant(value):
        node = value.node()
        if node.kind() in ("aten::view", "aten::reshape"):  # a weight reshaped as it is used
            return constant(next(node.inputs()))
        return node.output().toIValue() if node.kind() == "prim::Constant" else None

    for node in frozen.graph.nodes():
        inputs = list(node.inputs())
        if node.kind() == "aten::conv2d":
            convs.append((constant(inputs[1]), constant(inputs[2])))
        elif node.kind() == "aten::batch_norm":
            norms.append(tuple(constant(value) for value in inputs[1:5]))
        elif node.kind() in ("aten::mul", "aten::add"):
            operand = constant(inputs[1])
            if isinstance(operand, torch.Tensor) and operand.shape == (1, 1, BINS, 1):
                if node.kind() == "aten::mul":
                    scale = operand
                else:
                    shift = operand
    return convs, norms, scale, shift


def rebuild(frozen, shape):
    """The Separator of this shape holding the frozen network's weights, and its folded batch norms."""
    network = Separator(**shape)
    convs, norms, scale, shift = graph_constants(frozen)
    modules = [module for module in network.modules() if isinstance(module, (nn.Conv2d, nn.Linear, nn.BatchNorm2d))]
    folded = []
    with torch.no_grad():
        network.input_scale.copy_(scale)
        network.input_shift.copy_(shift)
        previous = None
        for module in modules:
            if isinstance(module, nn.BatchNorm2d) and isinstance(previous, nn.Conv2d):
                # Folded into the convolution before it.
                folded.append(module)
            elif isinstance(module, nn.BatchNorm2d):
                weight, bias, mean, var = norms.pop(0)
                module.weight.copy_(weight)
                module.bias.copy_(bias)
                module.running_mean.copy_(mean)
                module.running_var.copy_(var)
            else:
                weight, bias = convs.pop(0)
                module.weight.copy_(weight.reshape(module.weight.shape) if isinstance(module, nn.Linear) else weight)
                if module.bias is not None:
                    module.bias.copy_(bias)
            previous = module
    if convs or norms:
        sys.exit(f"the model has {len(convs)} convolutions and {len(norms)} batch norms more than this shape")
    return network, folded


def calibrate(network, folded, magnitude):
    """Sets each folded batch norm to the identity with its input's statistics on magnitude."""
    for norm in folded:
        with torch.no_grad():
            norm.running_mean.zero_()
            norm.running_var.fill_(1.0 - norm.eps)
            norm.weight.fill_(1.0)
            norm.bias.zero_()
    seen = {}
    hooks = [norm.register_forward_hook(lambda module, inputs, _: seen.__setitem__(module, inputs[0]))
             for norm in folded]
    network.eval()
    with torch.no_grad():
        network(magnitude)
        for norm in folded:
            values = seen[norm].transpose(0, 1).reshape(norm.num_features, -1).double()
            mean, var = values.mean(dim=1), values.var(dim=1, unbiased=False)
            norm.running_mean.copy_(mean)
            norm.running_var.copy_(var)
            norm.weight.copy_((var + norm.eps).sqrt())
            norm.bias.copy_(mean)
    for hook in hooks:
        hook.remove()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--model", required=True)
    parser.add_argument("--data", action="append", required=True)
    parser.add_argument("--run", required=True)
    parser.add_argument("--step", type=int, default=0)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--shape", type=network_shape, default=network_shape(SHIPPED_SHAPE),
                        help=f"the network's shape as Separator takes it (default: {SHIPPED_SHAPE})")
    args = parser.parse_args()
    checkpoint = os.path.join(args.run, "checkpoint.pt")
    if os.path.exists(checkpoint):
        sys.exit(f"{checkpoint} exists already")

    torch.manual_seed(args.seed)
    shape = args.shape
    frozen = torch.jit.load(args.model)
    network, folded = rebuild(frozen, shape)
    rng = np.random.default_rng(args.seed)
    files = song_files(args.data, "any")
    crops = [stft(Batches(files, 128, np.random.default_rng(seed), remix=0.0).batch(16)).sum(dim=1).abs()[..., :BINS, :]
             for seed in (args.seed, args.seed + 1)]
    calibrate(network, folded, crops[0])
    # Checked on other crops than those the statistics came from.
    magnitude = crops[1]
    with torch.no_grad():
        change = (network(magnitude) - frozen(magnitude)).abs().max().item()
        # A copy, since a pass in training mode moves the batch norms' statistics.
        drift = (copy.deepcopy(network).train()(magnitude) - frozen(magnitude)).abs().max().item()
    if change > 1e-4:
        sys.exit(f"the rebuilt network's masks differ from the model's by up to {change:.2g}")
    print(f"{len(folded)} folded batch norms restored; masks within {change:.1g} of the model's "
          f"(by up to {drift:.2g} with the batches' own statistics)")

    os.makedirs(args.run, exist_ok=True)
    optimiser = torch.optim.Adam(network.parameters())
    torch.save({"model": network.state_dict(), "optimiser": optimiser.state_dict(), "step": args.step,
                "numpy": rng.bit_generator.state, "torch": torch.get_rng_state(), "shape": shape,
                "args": vars(args)}, checkpoint)
    print(f"wrote {checkpoint} at step {args.step}")


if __name__ == "__main__":
    main()
